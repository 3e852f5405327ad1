// The operator's names ("/data/configs/alias.json", uploaded by the PC tool): the document looked up
// for each kind the pages draw, at small ids and at the edges of the 32-bit ids. What a lookup
// finds is checked against the document as the property tree the format is read into holds it:
// an element of that kind whose "id" is that integer exactly (an id beyond 32 bits is no id), the
// first such, and an id written as a plain JSON integer is always found.
#include "fuzz_board.h"

#include "params/alias_names.h"
#include "params/json_document.h"
#include "platform/paths.h"

#include <boost/property_tree/ptree.hpp>

#include <cctype>
#include <fcntl.h>
#include <sys/stat.h>
#include <climits>
#include <string>
#include <vector>

namespace {
namespace pt = boost::property_tree;

const char* const kUnread = "\xFF"; // no JSON text holds this byte

struct Element {
    std::string id, valid, name;
};

// Whether the text is the integer id exactly: a sign and any number of digits, blanks around.
bool sameInteger(const std::string& text, int32_t id)
{
    size_t i = 0;
    while (i < text.size() && isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    while (i + 1 < text.size() && text[i] == '0')
        ++i;
    size_t end = text.size();
    while (end > i && isspace(static_cast<unsigned char>(text[end - 1])))
        --end;
    const std::string digits = text.substr(i, end - i);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const long long value = id;
    const std::string magnitude = std::to_string(value < 0 ? -value : value);
    return digits == magnitude && (negative == (value < 0) || value == 0);
}

// An integer as JSON writes one: no blank, no "+", no leading zero.
bool plainInteger(const std::string& text)
{
    const size_t from = !text.empty() && text[0] == '-' ? 1 : 0;
    return text.size() > from && text.find_first_not_of("0123456789", from) == std::string::npos &&
           (text[from] != '0' || text.size() == from + 1);
}

// The elements of one kind's arrays in document order.
std::vector<Element> elementsOf(const pt::ptree& tree, const char* kind)
{
    std::vector<Element> out;
    const auto namelist = tree.get_child_optional("namelist");
    if (!namelist)
        return out;
    for (const auto& k : *namelist) {
        if (k.first != kind)
            continue;
        for (const auto& e : k.second) {
            const auto id = e.second.get_optional<std::string>("id");
            if (id)
                out.push_back({*id, e.second.get<std::string>("valid", std::string()), e.second.get<std::string>("name", std::string())});
        }
    }
    return out;
}

void check(const char* kind, int32_t id, const std::vector<Element>& elements)
{
    ALIAS_PARA alias;
    alias.valid = kUnread;
    const int32_t shown = get_json_alias_para(&alias, kind, id);
    const bool found = alias.valid != kUnread;
    if (shown != (found && alias.valid != "off" && !alias.name.empty() ? 1 : 0))
        FuzzBoard::fail("alias %s %d: reported %d for valid \"%s\" and name \"%s\"", kind, id, shown, alias.valid.c_str(),
                        alias.name.c_str());
    // The element found is one of those whose id is this integer, up to the first written plainly.
    bool matches = false, plain = false;
    for (const Element& e : elements) {
        if (!sameInteger(e.id, id))
            continue;
        matches = matches || (found && e.valid == alias.valid && e.name == alias.name);
        if (plainInteger(e.id)) {
            plain = true;
            break;
        }
    }
    if (found && !matches)
        FuzzBoard::fail("alias %s %d found where no element has that id first", kind, id);
    if (!found && plain)
        FuzzBoard::fail("alias %s %d not found though an element has that id", kind, id);
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzBoard::start();
    FuzzBoard::writeFile(AliasNames::kPath, data, size);
    // Each input a later upload: the lookup parses a file again when its size or time changed, and
    // two inputs of one size can be written within the file system's clock tick.
    static time_t upload = 0;
    const timespec times[2] = {{++upload, 0}, {upload, 0}};
    if (utimensat(AT_FDCWD, platform::Paths::resolve(AliasNames::kPath).c_str(), times, 0) != 0)
        FuzzBoard::fail("cannot date the upload");
    pt::ptree tree; // stays empty for a file that is no JSON or nested deeper than the readers take
    if (readJsonDocument(std::string(reinterpret_cast<const char*>(data), size), &tree) != JsonRead::Taken)
        tree.clear();
    for (const char* kind : {"source", "win", "crop", "usermode"}) {
        const std::vector<Element> elements = elementsOf(tree, kind);
        for (int32_t id : {0, 1, 5, 39, -1, INT32_MAX, INT32_MIN})
            check(kind, id, elements);
    }
    FuzzBoard::settle(); // a damaged file's removal goes through the board's shell, whose log it clears
    return 0;
}
