#include "images/TextureCache.h"

namespace orvik {

std::size_t TextureCache::cost(const Entry& e)
{
    return e.first.size() + (e.second ? e.second->bytes.size() + e.second->problem.size() : 0);
}

std::shared_ptr<const CachedImage> TextureCache::find(const std::string& key)
{
    const auto found = index.find(key);
    if (found == index.end()) return nullptr;
    order.splice(order.begin(), order, found->second);
    return found->second->second;
}

void TextureCache::keep(const std::string& key, std::shared_ptr<const CachedImage> image)
{
    if (const auto found = index.find(key); found != index.end()) {
        held -= cost(*found->second);
        order.erase(found->second);
        index.erase(found);
    }
    Entry entry{key, std::move(image)};
    const std::size_t size = cost(entry);
    if (size > limit) return;
    while (held + size > limit && !order.empty()) {
        held -= cost(order.back());
        index.erase(order.back().first);
        order.pop_back();
        ++droppedCount;
    }
    order.push_front(std::move(entry));
    index.emplace(key, order.begin());
    held += size;
}

std::string fileIdentity(const struct stat& st)
{
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" + std::to_string(st.st_size) + ":" +
           std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
}

}  // namespace orvik
