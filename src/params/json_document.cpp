#include "params/json_document.h"

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <sstream>

namespace {

bool shallowEnough(const std::string& text)
{
    constexpr int kMaxDepth = 64;
    int depth = 0;
    bool inString = false, escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxDepth)
                return false;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return true;
}

}

JsonRead readJsonDocument(const std::string& text, boost::property_tree::ptree* doc, std::string* why)
{
    if (!shallowEnough(text))
        return JsonRead::TooDeep;
    try {
        std::istringstream in(text);
        boost::property_tree::read_json(in, *doc);
        return JsonRead::Taken;
    } catch (const boost::property_tree::ptree_error& e) {
        if (why)
            *why = e.what();
        return JsonRead::NotJson;
    }
}
