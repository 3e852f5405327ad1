#include "platform/sim/shell_words.h"

#include <cctype>

namespace platform::Sim {
namespace {

struct RawWord {
    ShellWord word;
    bool plain = true; // no quoting at all, so operators in it are operators
};

// Length of the redirection operator a word starts with ("2>", "&>", ">>", "2>&"), 0 when none.
size_t redirectionLength(const std::string& w)
{
    size_t i = 0;
    while (i < w.size() && std::isdigit(static_cast<unsigned char>(w[i])))
        ++i;
    if (w.compare(i, 2, "&>") == 0) {
        i += 2;
        if (i < w.size() && w[i] == '>')
            ++i;
        return i;
    }
    if (i < w.size() && (w[i] == '>' || w[i] == '<')) {
        ++i;
        if (i < w.size() && (w[i] == '>' || w[i] == '&'))
            ++i;
        return i;
    }
    return 0;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n';
}

std::vector<RawWord> split(const std::string& line, bool* compound)
{
    std::vector<RawWord> words;
    RawWord cur;
    bool inWord = false;
    const size_t n = line.size();
    for (size_t i = 0; i < n; ++i) {
        const char c = line[i];
        if (isBlank(c)) {
            if (inWord)
                words.push_back(cur);
            cur = RawWord();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == '\'') {
            cur.plain = false;
            const size_t close = line.find('\'', i + 1);
            if (close == std::string::npos) {
                *compound = true; // unterminated quote: sh would refuse it
                cur.word.text += line.substr(i + 1);
                break;
            }
            cur.word.text += line.substr(i + 1, close - i - 1);
            i = close;
        } else if (c == '"') {
            cur.plain = false;
            size_t j = i + 1;
            for (; j < n && line[j] != '"'; ++j) {
                if (line[j] == '\\' && j + 1 < n && std::string("\"\\$`").find(line[j + 1]) != std::string::npos)
                    ++j;
                else if (line[j] == '$' || line[j] == '`')
                    *compound = true;
                cur.word.text += line[j];
            }
            if (j >= n)
                *compound = true;
            i = j;
        } else if (c == '\\') {
            cur.plain = false;
            if (i + 1 < n)
                cur.word.text += line[++i];
        } else {
            if (c == '*' || c == '?' || c == '[')
                cur.word.glob = true;
            if (c == ';' || c == '|' || c == '`' || c == '$' || c == '(' || c == ')')
                *compound = true;
            cur.word.text += c;
        }
    }
    if (inWord)
        words.push_back(cur);
    return words;
}

}

ShellCommandLine parseCommandLine(const std::string& line)
{
    ShellCommandLine result;
    const std::vector<RawWord> raw = split(line, &result.compound);
    for (size_t i = 0; i < raw.size(); ++i) {
        const RawWord& w = raw[i];
        if (w.plain) {
            const size_t op = redirectionLength(w.word.text);
            if (op > 0) {
                if (op == w.word.text.size())
                    ++i; // the target is the next word
                continue;
            }
            if (w.word.text == "&" && i + 1 == raw.size())
                continue; // run in the background: the simulated tools finish at once
            if (w.word.text.find('&') != std::string::npos)
                result.compound = true;
        }
        result.words.push_back(w.word);
    }
    return result;
}

}
