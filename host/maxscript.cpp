// The stand-in's MAXScript: exactly the statements the importer generates,
// binding a global to the Modify panel's current Skin and setting bone
// envelopes through skinops. Every statement is recorded with its outcome.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "host/interface.h"
#include "host/iskin.h"
#include "host/scene.h"

namespace {

// Reads a statement left to right; every read skips the blanks before it.
class StatementReader {
public:
    explicit StatementReader(std::string_view s) : text(s) {}

    bool literal(std::string_view word)
    {
        skipBlanks();
        if (text.substr(pos, word.size()) != word) return false;
        pos += word.size();
        return true;
    }

    std::optional<std::string> identifier()
    {
        skipBlanks();
        std::size_t end = pos;
        if (end < text.size() && (std::isalpha(uc(text[end])) || text[end] == '_')) {
            ++end;
            while (end < text.size() && (std::isalnum(uc(text[end])) || text[end] == '_')) ++end;
        }
        if (end == pos) return std::nullopt;
        std::string name(text.substr(pos, end - pos));
        pos = end;
        return name;
    }

    // A decimal integer with an optional sign.
    std::optional<long> integer()
    {
        skipBlanks();
        std::size_t end = pos;
        if (end < text.size() && (text[end] == '-' || text[end] == '+')) ++end;
        const std::size_t digits = end;
        while (end < text.size() && std::isdigit(uc(text[end]))) ++end;
        if (end == digits || end - digits > 9) return std::nullopt;
        const long value = std::strtol(std::string(text.substr(pos, end - pos)).c_str(), nullptr, 10);
        pos = end;
        return value;
    }

    // A decimal number: sign, digits, fraction, exponent.
    std::optional<float> number()
    {
        skipBlanks();
        std::size_t end = pos;
        while (end < text.size() && (std::isdigit(uc(text[end])) || text[end] == '.' || text[end] == '-' ||
                                     text[end] == '+' || text[end] == 'e' || text[end] == 'E'))
            ++end;
        if (end == pos) return std::nullopt;
        const std::string piece(text.substr(pos, end - pos));
        char* stop = nullptr;
        const float value = std::strtof(piece.c_str(), &stop);
        if (stop != piece.c_str() + piece.size()) return std::nullopt;
        pos = end;
        return value;
    }

    bool atEnd()
    {
        skipBlanks();
        return pos == text.size();
    }

private:
    static unsigned char uc(char c) { return static_cast<unsigned char>(c); }
    void skipBlanks()
    {
        while (pos < text.size() && std::isspace(uc(text[pos]))) ++pos;
    }

    std::string_view text;
    std::size_t pos = 0;
};

struct Outcome {
    bool ok = true;
    std::string error;
};

Outcome failure(std::string message)
{
    return Outcome{false, std::move(message)};
}

constexpr const char* kSyntaxError = "-- Syntax error: not a statement this host understands";

// NAME= modPanel.GetCurrentObject(): the top modifier of the one selected
// node while the Modify panel is shown, undefined otherwise.
Outcome bindCurrentObject(Scene& scene, const std::string& name)
{
    SkinModifier* current = nullptr;
    if (scene.commandPanelMode == TASK_MODE_MODIFY && scene.selection.size() == 1 && scene.selection[0]) {
        const std::vector<Modifier*>& stack = scene.selection[0]->Modifiers();
        if (!stack.empty()) current = dynamic_cast<SkinModifier*>(stack.front());
    }
    scene.globals[name] = current;
    return Outcome{};
}

// The Skin that a global names; null with the outcome set when it names none.
SkinModifier* boundSkin(Scene& scene, std::string_view function, const std::string& name, Outcome& outcome)
{
    const auto found = scene.globals.find(name);
    if (found == scene.globals.end() || found->second == nullptr) {
        outcome = failure("-- Runtime error: skinops." + std::string(function) + ": " + name + " is undefined");
        return nullptr;
    }
    return found->second;
}

// The 1-based bone number's envelope, or null with the outcome set.
SkinModifier::Envelope* envelopeOf(SkinModifier& skin, std::string_view function, long bone, Outcome& outcome)
{
    const long count = static_cast<long>(skin.Bones().size());
    if (bone < 1 || bone > count) {
        outcome =
            failure("-- Runtime error: skinops." + std::string(function) + ": bone " + std::to_string(bone) +
                    " out of range (" + (count == 0 ? std::string("no bones") : "1 to " + std::to_string(count)) + ")");
        return nullptr;
    }
    return &skin.Bones()[static_cast<std::size_t>(bone - 1)].envelope;
}

Outcome setPoint(Scene& scene, StatementReader& in, std::string_view function, bool start)
{
    const std::optional<std::string> name = in.identifier();
    const std::optional<long> bone = name ? in.integer() : std::nullopt;
    if (!bone || !in.literal("[")) return failure(kSyntaxError);
    const std::optional<float> x = in.number();
    const std::optional<float> y = x && in.literal(",") ? in.number() : std::nullopt;
    const std::optional<float> z = y && in.literal(",") ? in.number() : std::nullopt;
    if (!z || !in.literal("]") || !in.atEnd()) return failure(kSyntaxError);

    Outcome outcome;
    SkinModifier* skin = boundSkin(scene, function, *name, outcome);
    if (!skin) return outcome;
    SkinModifier::Envelope* envelope = envelopeOf(*skin, function, *bone, outcome);
    if (!envelope) return outcome;
    (start ? envelope->start : envelope->end) = Point3(*x, *y, *z);
    return outcome;
}

Outcome setRadius(Scene& scene, StatementReader& in, std::string_view function, bool inner)
{
    const std::optional<std::string> name = in.identifier();
    const std::optional<long> bone = name ? in.integer() : std::nullopt;
    const std::optional<long> section = bone ? in.integer() : std::nullopt;
    const std::optional<float> radius = section ? in.number() : std::nullopt;
    if (!radius || !in.atEnd()) return failure(kSyntaxError);

    Outcome outcome;
    SkinModifier* skin = boundSkin(scene, function, *name, outcome);
    if (!skin) return outcome;
    SkinModifier::Envelope* envelope = envelopeOf(*skin, function, *bone, outcome);
    if (!envelope) return outcome;
    constexpr long kSections = 2;
    if (*section < 1 || *section > kSections) {
        return failure("-- Runtime error: skinops." + std::string(function) + ": cross section " +
                       std::to_string(*section) + " out of range (1 to 2)");
    }
    SkinModifier::CrossSection& c = envelope->sections[*section - 1];
    (inner ? c.inner : c.outer) = *radius;
    return outcome;
}

Outcome run(Scene& scene, const std::string& statement)
{
    StatementReader in(statement);
    if (in.literal("skinops.")) {
        const std::optional<std::string> function = in.identifier();
        if (!function) return failure(kSyntaxError);
        // Messages name the function qualified ("skinops.SetEndPoint").
        if (*function == "SetStartPoint") return setPoint(scene, in, *function, true);
        if (*function == "SetEndPoint") return setPoint(scene, in, *function, false);
        if (*function == "SetInnerRadius") return setRadius(scene, in, *function, true);
        if (*function == "SetOuterRadius") return setRadius(scene, in, *function, false);
        return failure("-- Unknown function: skinops." + *function);
    }
    const std::optional<std::string> name = in.identifier();
    if (name && in.literal("=") && in.literal("modPanel.GetCurrentObject") && in.literal("(") && in.literal(")") &&
        in.atEnd())
        return bindCurrentObject(scene, *name);
    return failure(kSyntaxError);
}

}  // namespace

BOOL ExecuteMAXScriptScript(const MCHAR* s, BOOL noErrorMessage, void* fpv)
{
    (void)fpv;  // no result value is handed back
    Scene& scene = currentScene();
    std::string statement = s ? s : "";
    Outcome outcome = run(scene, statement);
    if (!outcome.ok && !noErrorMessage && scene.options.printScriptErrors) {
        std::fprintf(stderr, "MAXScript: %s\n  in: %s\n", outcome.error.c_str(), statement.c_str());
    }
    const bool ok = outcome.ok;
    // The record takes the statement and the message over.
    scene.script.push_back(ScriptRecord{std::move(statement), ok, ok ? std::string() : std::move(outcome.error)});
    return ok ? TRUE : FALSE;
}
