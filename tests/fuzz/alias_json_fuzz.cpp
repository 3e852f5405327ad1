// The operator's names ("/data/configs/alias.json", uploaded by the PC tool): the document looked up
// for each kind the pages draw.
#include "fuzz_board.h"

#include "params/alias_names.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzBoard::start();
    FuzzBoard::writeFile(AliasNames::kPath, data, size);
    for (const char* kind : {"source", "win", "crop", "usermode"})
        for (int32_t id : {0, 1, 5, 39, -1}) {
            ALIAS_PARA alias;
            if (get_json_alias_para(&alias, kind, id) && alias.name.empty())
                FuzzBoard::fail("alias %s %d found without a name to draw", kind, id);
        }
    FuzzBoard::settle(); // a damaged file's removal goes through the board's shell, whose log it clears
    return 0;
}
