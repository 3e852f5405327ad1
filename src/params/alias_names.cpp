#include "params/alias_names.h"

#include "base/global.h"
#include "base/utils.h"
#include "params/json_document.h"
#include "platform/paths.h"

#include <QString>
#include <boost/property_tree/ptree.hpp>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <vector>

const char* const AliasNames::kPath = "/data/configs/alias.json";

namespace {

struct Entry {
    std::string valid;
    std::string name;
};

// What the current file says: per kind, the first element of each id, in document order.
struct Parsed {
    bool present = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = -1;
    struct timespec mtime = {0, 0};
    std::map<std::string, std::map<int32_t, Entry>> kinds;
};

std::mutex g_mutex;
Parsed g_cache;
bool g_cached = false;
uint32_t g_parses = 0;

// The file's identity as the cache keeps it, no names yet. False when it is not there.
bool fileNow(const std::string& path, Parsed* out)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return false;
    out->present = true;
    out->dev = st.st_dev;
    out->ino = st.st_ino;
    out->size = st.st_size;
    out->mtime = st.st_mtim;
    return true;
}

bool sameFile(const Parsed& a, const Parsed& b)
{
    return a.present && b.present && a.dev == b.dev && a.ino == b.ino && a.size == b.size &&
           a.mtime.tv_sec == b.mtime.tv_sec && a.mtime.tv_nsec == b.mtime.tv_nsec;
}

// An id as the property tree keeps it: the text of a JSON number or of a string of digits.
bool readId(const std::string& text, int32_t* id)
{
    if (text.empty() || text.size() > 11)
        return false;
    char* end = nullptr;
    errno = 0;
    const long value = strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < INT32_MIN || value > INT32_MAX)
        return false;
    *id = int32_t(value);
    return true;
}

void collect(const boost::property_tree::ptree& tree, Parsed* out)
{
    const auto namelist = tree.get_child_optional("namelist");
    if (!namelist)
        return;
    for (const auto& kind : *namelist) {
        auto& ids = out->kinds[kind.first];
        for (const auto& element : kind.second) {
            const auto idText = element.second.get_optional<std::string>("id");
            int32_t id = 0;
            if (!idText || !readId(*idText, &id))
                continue; // an element without a usable id names nothing
            if (ids.count(id))
                continue; // the first of equal ids counts
            Entry e;
            e.valid = element.second.get<std::string>("valid", std::string());
            e.name = element.second.get<std::string>("name", std::string());
            ids.emplace(id, std::move(e));
        }
    }
}

// The names a document holds; valid JSON of an unexpected shape gives none, and the file stays.
void collectNames(const boost::property_tree::ptree& tree, Parsed* out)
{
    try {
        collect(tree, out);
    } catch (const std::exception& e) {
        if (traceOn())
            printf("json error: %s\n", e.what());
        out->kinds.clear();
    }
}

// Brings the cache up to the file on disk; caller holds g_mutex.
void refresh()
{
    const std::string path = platform::Paths::resolve(AliasNames::kPath);
    Parsed fresh;
    if (!fileNow(path, &fresh)) {
        g_cache = Parsed();
        g_cached = true;
        return;
    }
    if (g_cached && sameFile(fresh, g_cache))
        return;
    std::ifstream in(path);
    if (!in) {
        g_cache = Parsed();
        g_cached = false; // try again next time
        return;
    }
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    in.close();
    ++g_parses;
    boost::property_tree::ptree tree;
    std::string why;
    switch (readJsonDocument(text, &tree, &why)) {
    case JsonRead::NotJson: {
        if (traceOn())
            printf("json error: %s\n", why.c_str());
        // A file replaced meanwhile (an upload in progress) is not the one that failed.
        Parsed now;
        if (fileNow(path, &now) && sameFile(now, fresh))
            Utils::system_mutex(QStringLiteral("rm -rf /data/configs/alias.json"));
        g_cache = Parsed();
        g_cached = false;
        return;
    }
    case JsonRead::TooDeep: // not read, and it stays: no names
        break;
    case JsonRead::Taken:
        collectNames(tree, &fresh);
        break;
    }
    g_cache = std::move(fresh);
    g_cached = true;
}

}

int32_t get_json_alias_para(ALIAS_PARA* out, const std::string& kind, int32_t id)
{
    if (!out)
        return 0;
    std::lock_guard<std::mutex> lock(g_mutex);
    refresh();
    const auto k = g_cache.kinds.find(kind);
    if (k == g_cache.kinds.end())
        return 0;
    const auto e = k->second.find(id);
    if (e == k->second.end())
        return 0;
    out->id = id;
    out->valid = e->second.valid;
    out->name = e->second.name;
    return (out->valid != "off" && !out->name.empty()) ? 1 : 0;
}

void AliasNames::uploaded(const boost::property_tree::ptree& doc)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    Parsed fresh;
    g_cached = fileNow(platform::Paths::resolve(kPath), &fresh);
    if (g_cached)
        collectNames(doc, &fresh);
    g_cache = std::move(fresh);
}

uint32_t AliasNames::parseCount()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_parses;
}
