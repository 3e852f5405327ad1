#pragma once
// The JSON documents the box reads (operator names, on-screen menu and its user-mode copies), by
// one rule for their readers and for the upload that replaces them: brackets nested no deeper
// than the parser may recurse (once a level), then JSON.
#include <boost/property_tree/ptree_fwd.hpp>

#include <string>

enum class JsonRead { Taken, TooDeep, NotJson };

// Parses text into *doc by that rule; *why, when given, gets the parser's message for NotJson.
JsonRead readJsonDocument(const std::string& text, boost::property_tree::ptree* doc, std::string* why = nullptr);
