// The texture cache of batch workers: its bound, and dictionary textures and
// image files made once for several models, made afresh when their file
// changes. Dictionaries are written by the test writer.
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "images/TextureCache.h"
#include "images/TxdImages.h"
#include "support/Programs.h"
#include "testkit/TxdWriter.h"

namespace {

namespace fs = std::filesystem;

std::shared_ptr<const orvik::CachedImage> imageOf(std::size_t bytes, char fill = 'x')
{
    return std::make_shared<orvik::CachedImage>(orvik::CachedImage{std::string(bytes, fill), false, ""});
}

// A step on a cache of 100 bytes: keep (a key and an image size) or find (a
// key); then what it holds.
struct Step {
    const char* keep;  // key kept, or null
    std::size_t size;  // its image's bytes
    const char* find;  // key looked up, or null
    std::vector<const char*> held;
};

// Keys of one letter: an entry costs its image's bytes plus one.
TEST(TextureCache, HoldsAtMostItsBoundDroppingTheLeastRecentlyUsed)
{
    struct Case {
        const char* name;
        std::vector<Step> steps;
        std::size_t dropped;
    };
    const Case cases[] = {
        {"fits", {{"a", 39, nullptr, {"a"}}, {"b", 59, nullptr, {"a", "b"}}}, 0},
        {"oldest dropped",
         {{"a", 39, nullptr, {"a"}}, {"b", 39, nullptr, {"a", "b"}}, {"c", 39, nullptr, {"b", "c"}}},
         1},
        {"a find keeps it",
         {{"a", 39, nullptr, {"a"}},
          {"b", 39, nullptr, {"a", "b"}},
          {nullptr, 0, "a", {"a", "b"}},
          {"c", 39, nullptr, {"a", "c"}}},
         1},
        {"several dropped",
         {{"a", 29, nullptr, {"a"}},
          {"b", 29, nullptr, {"a", "b"}},
          {"c", 29, nullptr, {"a", "b", "c"}},
          {"d", 79, nullptr, {"d"}}},
         3},
        {"larger than the bound not kept", {{"a", 39, nullptr, {"a"}}, {"b", 100, nullptr, {"a"}}}, 0},
        {"exactly the bound", {{"a", 39, nullptr, {"a"}}, {"b", 99, nullptr, {"b"}}}, 1},
        {"kept again replaces",
         {{"a", 39, nullptr, {"a"}}, {"a", 59, nullptr, {"a"}}, {"b", 39, nullptr, {"a", "b"}}},
         0},
    };
    for (const Case& c : cases) {
        orvik::TextureCache cache(100);
        std::map<std::string, std::size_t> sizes;
        std::size_t step = 0;
        for (const Step& s : c.steps) {
            ++step;
            if (s.keep) cache.keep(s.keep, imageOf(s.size)), sizes[s.keep] = s.size;
            if (s.find) {
                EXPECT_NE(cache.find(s.find), nullptr) << c.name << " step " << step;
            }
            EXPECT_LE(cache.bytes(), 100u) << c.name << " step " << step;
            EXPECT_EQ(cache.size(), s.held.size()) << c.name << " step " << step;
            std::size_t bytes = 0;
            for (const char* key : s.held) {
                EXPECT_TRUE(cache.holds(key)) << c.name << " step " << step << ": " << key;
                bytes += sizes[key] + 1;
            }
            EXPECT_EQ(cache.bytes(), bytes) << c.name << " step " << step;
        }
        EXPECT_EQ(cache.dropped(), c.dropped) << c.name;
    }
}

txdw::Texture texture(const std::string& name, std::uint8_t shade)
{
    txdw::Texture t;
    t.name = name;
    t.levels = {std::vector<std::uint8_t>(4 * 4 * 4, shade)};
    return t;
}

class CachedDictionaries : public ScratchFolder {
protected:
    // Dictionary images of one model over the dictionary file, with the cache.
    orvik::TextureImage lookUp(const std::string& name, orvik::TextureStats* stats = nullptr)
    {
        orvik::DictionaryImages images;
        images.useCache(&cache);
        std::string error;
        EXPECT_TRUE(images.add((dir / "cars.txd").string(), error)) << error;
        orvik::TextureImage image = images.imageFor(name);
        if (stats) *stats = images.stats();
        return image;
    }
    void writeDictionary(std::uint8_t shade)
    {
        txdw::Dictionary d;
        d.textures = {texture("Body", shade), texture("wheel", 7)};
        const std::vector<std::uint8_t> bytes = txdw::write(d);
        put("cars.txd", std::string(bytes.begin(), bytes.end()));
    }
    orvik::TextureCache cache;
};

// The second model takes the image the first made; a dictionary rewritten
// in between gives its new pixels; names are compared as the lookup compares them.
TEST_F(CachedDictionaries, MadeOnceForSeveralModelsAndAfreshWhenTheFileChanges)
{
    writeDictionary(200);
    orvik::TextureStats first, second, other, changed;
    const orvik::TextureImage a = lookUp("body", &first);
    const orvik::TextureImage b = lookUp("BODY", &second);
    const orvik::TextureImage w = lookUp("wheel", &other);
    EXPECT_EQ(first.made, 1u);
    EXPECT_EQ(first.hits, 0u);
    EXPECT_EQ(second.made, 0u);
    EXPECT_EQ(second.hits, 1u);
    EXPECT_EQ(other.made, 1u);
    ASSERT_FALSE(a.bytes.empty()) << a.problem;
    EXPECT_EQ(b.bytes, a.bytes);
    EXPECT_EQ(b.bytes.data(), a.bytes.data()) << "the second model shares the first one's bytes";
    EXPECT_EQ(b.name, a.name);
    EXPECT_EQ(b.origin, a.origin);
    EXPECT_NE(w.bytes, a.bytes);
    EXPECT_EQ(cache.size(), 2u);

    // Another size, so the identity changes even within the clock's step.
    txdw::Dictionary d;
    d.textures = {texture("Body", 10), texture("wheel", 7), texture("extra", 1)};
    const std::vector<std::uint8_t> bytes = txdw::write(d);
    put("cars.txd", std::string(bytes.begin(), bytes.end()));
    const orvik::TextureImage c = lookUp("body", &changed);
    EXPECT_EQ(changed.made, 1u);
    EXPECT_EQ(changed.hits, 0u);
    EXPECT_NE(c.bytes, a.bytes);
}

// A dictionary from memory without an identity is never kept.
TEST_F(CachedDictionaries, BytesOfUnknownOriginAreNotKept)
{
    txdw::Dictionary d;
    d.textures = {texture("Body", 200)};
    for (int model = 0; model < 2; ++model) {
        orvik::DictionaryImages images;
        images.useCache(&cache);
        std::string error;
        ASSERT_TRUE(images.add(orvik::dictionaryFromBytes("x.img/cars.txd", txdw::write(d)), error)) << error;
        EXPECT_FALSE(images.imageFor("body").bytes.empty());
        EXPECT_EQ(images.stats().made, 1u);
        EXPECT_EQ(images.stats().hits, 0u);
    }
    EXPECT_EQ(cache.size(), 0u);
}

}  // namespace
