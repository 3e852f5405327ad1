#pragma once
#include <boost/property_tree/ptree_fwd.hpp>

#include <cstdint>
#include <string>

// Operator names of inputs, user modes, windows and crops, from "/data/configs/alias.json" (the PC
// tool uploads it). The document is parsed once per change of the file (size, time, inode), not
// once per name drawn.
struct ALIAS_PARA {
    int32_t id = 0;
    std::string valid;
    std::string name;
};

// Finds in "namelist" the array named kind and in it the first element whose "id" equals id
// (a number or a numeric text) and fills out from it. 1 when it exists, its "valid" is not "off"
// and its name is not empty; else 0. A missing file gives 0; a file that is not JSON is removed
// (the PC tool uploads it again) and gives 0; a document without the expected members, or nested
// deeper than the JSON rule of params/json_document.h takes, gives 0 and stays.
int32_t get_json_alias_para(ALIAS_PARA* out, const std::string& kind, int32_t id);

namespace AliasNames {
extern const char* const kPath; // "/data/configs/alias.json"
uint32_t parseCount();          // documents parsed so far, for the cost checks
// An upload has just replaced the file with doc, parsed by its check: its names are taken from
// there, so the file is not parsed again for them.
void uploaded(const boost::property_tree::ptree& doc);
}
