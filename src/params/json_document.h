#pragma once
// The JSON files the PC tool uploads (names, on-screen menu and its user-mode copies): whether a
// text is a document their readers take, checked before an upload replaces the stored file.
#include <string>

// False for brackets nested deeper than the readers follow: the parser recurses once a level.
bool jsonShallowEnough(const std::string& text);
// The text parses as JSON and is shallow enough.
bool jsonDocument(const std::string& text);
