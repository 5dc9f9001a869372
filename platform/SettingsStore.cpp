#include "platform/SettingsStore.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>

#include "platform/File.h"
#include "platform/FileSystem.h"

namespace qv {

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kOldHeader = "REGEDIT4";
constexpr std::string_view kKeyPath = "HKEY_CURRENT_USER\\SOFTWARE\\Quorvandel\\Quorvandel";
// A logical line (continuations joined) longer than this is skipped unread. The
// longest line the writer makes, a text of kMaxSettingsTextBytes written as
// hex(1), stays well below it.
constexpr size_t kMaxLineBytes = 256 * 1024;
// The read buffer of the design: text plus terminating zero must fit.
constexpr size_t kReadBufferBytes = 512;

char Fold(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Names compare like registry names: without regard to (ASCII) letter case.
bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (Fold(a[i]) != Fold(b[i])) {
            return false;
        }
    }
    return true;
}

bool StartsWithFolded(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && SameName(text.substr(0, prefix.size()), prefix);
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

bool HasControlChar(std::string_view s) {
    for (char c : s) {
        if (static_cast<unsigned char>(c) < 0x20) {
            return true;
        }
    }
    return false;
}

bool ValidName(std::string_view name) {
    return !name.empty() && name.size() <= kMaxSettingsNameBytes && !HasControlChar(name);
}

// "" or backslash-separated non-empty parts.
bool ValidSubkey(std::string_view subkey) {
    if (subkey.empty()) {
        return true;
    }
    return subkey.size() <= kMaxSettingsNameBytes && !HasControlChar(subkey) &&
           subkey.front() != '\\' && subkey.back() != '\\' &&
           subkey.find("\\\\") == std::string_view::npos;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = Fold(c);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// The C library's atoi, with overflow clamped instead of undefined.
int AtoiValue(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && IsBlank(s[i])) {
        ++i;
    }
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    int64_t value = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        if (value <= int64_t{INT_MAX} + 1) {
            value = value * 10 + (s[i] - '0');
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > INT_MAX) {
        return INT_MAX;
    }
    if (value < INT_MIN) {
        return INT_MIN;
    }
    return static_cast<int>(value);
}

// A quoted string at s[*pos] with the format's two escapes, \\ and \". Another
// backslash pair is kept as it stands.
bool ParseQuoted(std::string_view s, size_t* pos, std::string* out) {
    size_t i = *pos;
    if (i >= s.size() || s[i] != '"') {
        return false;
    }
    out->clear();
    for (++i; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"') {
            *pos = i + 1;
            return true;
        }
        if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
            c = s[++i];
        }
        out->push_back(c);
    }
    return false;  // no closing quote
}

void AppendQuoted(std::string& out, std::string_view s) {
    out.push_back('"');
    for (char c : s) {
        if (c == '\\' || c == '"') {
            out.push_back('\\');
        }
        out.push_back(c);
    }
    out.push_back('"');
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    }
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
}

// hex(1): a REG_SZ as comma-separated bytes of 16-bit little-endian units, ended by
// a zero unit. Units up to 0xFF stand for the byte of that value, the way this
// store writes text that a quoted string cannot hold (line breaks); larger units,
// from files made elsewhere, become UTF-8.
bool ParseHexText(std::string_view data, std::string* out) {
    std::vector<uint8_t> bytes;
    int digits = 0;
    unsigned current = 0;
    for (char c : data) {
        if (c == ',') {
            if (digits == 0) {
                return false;
            }
            bytes.push_back(static_cast<uint8_t>(current));
            digits = 0;
            current = 0;
        } else if (!IsBlank(c)) {
            int d = HexDigit(c);
            if (d < 0 || ++digits > 2) {
                return false;
            }
            current = current * 16 + static_cast<unsigned>(d);
        }
    }
    if (digits > 0) {
        bytes.push_back(static_cast<uint8_t>(current));
    }
    out->clear();
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        uint32_t unit = bytes[i] | (uint32_t{bytes[i + 1]} << 8);
        if (unit == 0) {
            break;
        }
        if (unit < 0x100) {
            out->push_back(static_cast<char>(unit));
        } else if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < bytes.size()) {
            uint32_t low = bytes[i + 2] | (uint32_t{bytes[i + 3]} << 8);
            if (low >= 0xDC00 && low < 0xE000) {
                AppendUtf8(*out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
            } else {
                AppendUtf8(*out, 0xFFFD);
            }
        } else if (unit >= 0xD800 && unit < 0xE000) {
            AppendUtf8(*out, 0xFFFD);
        } else {
            AppendUtf8(*out, unit);
        }
    }
    return true;
}

// Wrapped at 80 columns with "\" and a two-space indent, like the format's editor.
void AppendHexText(std::string& out, size_t column, std::string_view text) {
    std::vector<uint8_t> bytes;
    for (char c : text) {
        bytes.push_back(static_cast<uint8_t>(c));
        bytes.push_back(0);
    }
    bytes.push_back(0);
    bytes.push_back(0);
    out += "hex(1):";
    column += 7;
    static constexpr char kDigits[] = "0123456789abcdef";
    for (size_t i = 0; i < bytes.size(); ++i) {
        const bool last = i + 1 == bytes.size();
        const size_t width = last ? 2 : 3;
        if (column + width + 1 > 80) {
            out += "\\\r\n  ";
            column = 2;
        }
        out.push_back(kDigits[bytes[i] >> 4]);
        out.push_back(kDigits[bytes[i] & 15]);
        if (!last) {
            out.push_back(',');
        }
        column += width;
    }
}

// The subkey named by a section line's key path; false for keys not ours.
bool SubkeyOfSection(std::string_view path, std::string* subkey) {
    if (!StartsWithFolded(path, kKeyPath)) {
        return false;
    }
    path.remove_prefix(kKeyPath.size());
    if (path.empty()) {
        subkey->clear();
        return true;
    }
    if (path.front() != '\\') {
        return false;  // a sibling such as "...\QuorvandelOld"
    }
    path.remove_prefix(1);
    if (path.empty() || !ValidSubkey(path)) {
        return false;
    }
    subkey->assign(path);
    return true;
}

// A value line: "name"="text", "name"=dword:1234abcd or "name"=hex(1):...
bool ParseValueLine(std::string_view line, SettingsValue* value) {
    size_t pos = 0;
    if (!ParseQuoted(line, &pos, &value->name) || value->name.empty()) {
        return false;
    }
    std::string_view rest = Trim(line.substr(pos));
    if (rest.empty() || rest.front() != '=') {
        return false;
    }
    rest = Trim(rest.substr(1));
    if (!rest.empty() && rest.front() == '"') {
        pos = 0;
        value->type = SettingsValue::Type::Text;
        return ParseQuoted(rest, &pos, &value->text) && Trim(rest.substr(pos)).empty();
    }
    if (StartsWithFolded(rest, "dword:")) {
        std::string_view digits = rest.substr(6);
        if (digits.empty() || digits.size() > 8) {
            return false;
        }
        uint32_t n = 0;
        for (char c : digits) {
            int d = HexDigit(c);
            if (d < 0) {
                return false;
            }
            n = n * 16 + static_cast<uint32_t>(d);
        }
        value->type = SettingsValue::Type::Dword;
        value->dword = n;
        return true;
    }
    if (StartsWithFolded(rest, "hex(1):")) {
        value->type = SettingsValue::Type::Text;
        return ParseHexText(rest.substr(7), &value->text);
    }
    return false;  // other types and "=-" deletions: not kept
}

}  // namespace

SettingsValues::SettingsValues() : keys_(1) {}

bool SettingsValues::Parse(std::string_view bytes, SettingsValues* values, std::string* damage) {
    *values = SettingsValues();
    if (bytes.find('\0') != std::string_view::npos) {
        *damage = "binary data";
        return false;
    }
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        bytes.remove_prefix(3);
    }
    if (Trim(bytes).empty()) {
        return true;  // an empty file holds no values and loses nothing when rewritten
    }
    const std::string_view firstLine = Trim(bytes.substr(0, bytes.find('\n')));
    if (firstLine != kHeader && firstLine != kOldHeader) {
        *damage = "the first line is not \"" + std::string(kHeader) + "\"";
        return false;
    }
    bytes.remove_prefix(std::min(bytes.size(), bytes.find('\n')));

    int key = -1;  // values before a section of ours belong nowhere
    std::string logical;
    bool tooLong = false;
    while (!bytes.empty()) {
        size_t end = bytes.find('\n');
        std::string_view line = bytes.substr(0, end);
        bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
        line = Trim(line);
        // A line ending in a backslash goes on in the next one (long hex data).
        const bool continues = !line.empty() && line.back() == '\\';
        if (continues) {
            line.remove_suffix(1);
        }
        if (logical.size() + line.size() > kMaxLineBytes) {
            tooLong = true;
        } else if (!tooLong) {
            logical += line;
        }
        if (continues && !bytes.empty()) {
            continue;
        }
        const std::string_view text = logical;
        if (tooLong || text.empty() || text.front() == ';') {
            // skipped
        } else if (text.front() == '[') {
            std::string subkey;
            if (text.back() == ']' && SubkeyOfSection(text.substr(1, text.size() - 2), &subkey)) {
                key = static_cast<int>(values->FindOrAddKey(subkey) - values->keys_.data());
            } else {
                key = -1;  // another key, or a key deletion
            }
        } else if (key >= 0 && text.front() == '"') {
            SettingsValue value;
            if (ParseValueLine(text, &value)) {
                // A later line for the same name wins, as on import.
                values->Store(values->keys_[static_cast<size_t>(key)].name, value.name, value);
            }
        }
        logical.clear();
        tooLong = false;
    }
    values->changed_ = false;
    return true;
}

std::string SettingsValues::Serialize() const {
    std::string out;
    out += kHeader;
    out += "\r\n\r\n";
    for (const Key& key : keys_) {
        out += '[';
        out += kKeyPath;
        if (!key.name.empty()) {
            out += '\\';
            out += key.name;
        }
        out += "]\r\n";
        for (const SettingsValue& v : key.values) {
            const size_t lineStart = out.size();
            AppendQuoted(out, v.name);
            out += '=';
            if (v.type == SettingsValue::Type::Dword) {
                char hex[16];
                std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(v.dword));
                out += "dword:";
                out += hex;
            } else if (HasControlChar(v.text)) {
                // A quoted string cannot hold a line break.
                AppendHexText(out, out.size() - lineStart, v.text);
            } else {
                AppendQuoted(out, v.text);
            }
            out += "\r\n";
        }
        out += "\r\n";
    }
    return out;
}

const SettingsValues::Key* SettingsValues::FindKey(std::string_view subkey) const {
    for (const Key& key : keys_) {
        if (SameName(key.name, subkey)) {
            return &key;
        }
    }
    return nullptr;
}

SettingsValues::Key* SettingsValues::FindKey(std::string_view subkey) {
    for (Key& key : keys_) {
        if (SameName(key.name, subkey)) {
            return &key;
        }
    }
    return nullptr;
}

SettingsValues::Key* SettingsValues::FindOrAddKey(std::string_view subkey) {
    if (Key* key = FindKey(subkey)) {
        return key;
    }
    keys_.push_back(Key{std::string(subkey), {}});
    return &keys_.back();
}

const SettingsValue* SettingsValues::Find(std::string_view subkey, std::string_view name) const {
    const Key* key = FindKey(subkey);
    if (key == nullptr) {
        return nullptr;
    }
    for (const SettingsValue& v : key->values) {
        if (SameName(v.name, name)) {
            return &v;
        }
    }
    return nullptr;
}

const std::vector<SettingsValue>& SettingsValues::ValuesOf(std::string_view subkey) const {
    static const std::vector<SettingsValue> kNone;
    const Key* key = FindKey(subkey);
    return key != nullptr ? key->values : kNone;
}

std::string SettingsValues::ReadText(std::string_view subkey, std::string_view name,
                                     std::string_view defaultText) const {
    return TextOf(Find(subkey, name), defaultText);
}

std::string SettingsValues::TextOf(const SettingsValue* v, std::string_view defaultText) {
    if (v == nullptr) {
        return std::string(defaultText);
    }
    std::string text = v->type == SettingsValue::Type::Dword
                           ? std::to_string(static_cast<int32_t>(v->dword))
                           : v->text;
    if (text.empty() || text.size() + 1 > kReadBufferBytes) {
        return std::string(defaultText);
    }
    return text;
}

int32_t SettingsValues::ReadInt(std::string_view subkey, std::string_view name,
                                int32_t defaultValue) const {
    const SettingsValue* v = Find(subkey, name);
    return v != nullptr && v->type == SettingsValue::Type::Dword ? static_cast<int32_t>(v->dword)
                                                                 : defaultValue;
}

int SettingsValues::ReadDecimal(std::string_view subkey, std::string_view name,
                                int defaultValue) const {
    const std::string text = ReadText(subkey, name);
    return text.empty() ? defaultValue : AtoiValue(text);
}

bool SettingsValues::Store(std::string_view subkey, std::string_view name,
                           const SettingsValue& value) {
    Key* key = FindOrAddKey(subkey);
    for (SettingsValue& v : key->values) {
        if (SameName(v.name, name)) {
            if (v.type != value.type || v.text != value.text || v.dword != value.dword) {
                v.type = value.type;
                v.text = value.text;
                v.dword = value.dword;
                changed_ = true;
            }
            return true;
        }
    }
    key->values.push_back(value);
    key->values.back().name.assign(name);
    changed_ = true;
    return true;
}

bool SettingsValues::WriteText(std::string_view subkey, std::string_view name,
                               std::string_view text) {
    text = text.substr(0, text.find('\0'));
    if (!ValidSubkey(subkey) || !ValidName(name) || text.size() > kMaxSettingsTextBytes) {
        return false;
    }
    SettingsValue value;
    value.type = SettingsValue::Type::Text;
    value.text.assign(text);
    return Store(subkey, name, value);
}

bool SettingsValues::WriteDword(std::string_view subkey, std::string_view name, uint32_t n) {
    if (!ValidSubkey(subkey) || !ValidName(name)) {
        return false;
    }
    SettingsValue value;
    value.type = SettingsValue::Type::Dword;
    value.dword = n;
    return Store(subkey, name, value);
}

bool SettingsValues::DeleteValue(std::string_view subkey, std::string_view name) {
    Key* key = FindKey(subkey);
    if (key == nullptr) {
        return false;
    }
    auto& values = key->values;
    for (auto it = values.begin(); it != values.end(); ++it) {
        if (SameName(it->name, name)) {
            values.erase(it);
            changed_ = true;
            return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------------------

namespace {

// Warns once per process and file, so a file read at every access does not flood
// the terminal.
void WarnOnce(const std::string& path, const std::string& text) {
    static std::mutex mutex;
    static std::set<std::string> warned;
    std::lock_guard<std::mutex> lock(mutex);
    if (warned.insert(path).second) {
        std::fprintf(stderr, "quorvandel: the settings file \"%s\" %s\n", path.c_str(),
                     text.c_str());
    }
}

void WarnDamaged(const std::string& path, const std::string& reason) {
    WarnOnce(path, "is damaged (" + reason + "); using default settings. It will be kept as \"" +
                       path + ".bad\" when settings are next saved.");
}

void WarnUnreadable(const std::string& path, int error) {
    WarnOnce(path, std::string("can't be read (") + std::strerror(error) +
                       "); using default settings. It is left as it is, and changed settings "
                       "are not saved.");
}

// Serializes read-modify-write cycles of processes sharing the file (the window
// and the command-line tool). Advisory; without a lock the edit still goes ahead.
class FolderLock {
public:
    explicit FolderLock(const std::string& folder)
        : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        while (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~FolderLock() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int fd_;
};

// A settings file that is a symbolic link (a managed dotfile) is rewritten where
// the link points, so the link stays.
std::string WriteTarget(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::is_symlink(path, ec)) {
        auto target = std::filesystem::canonical(path, ec);
        if (!ec) {
            return target.string();
        }
    }
    return path;
}

bool WriteNewFile(const std::string& path, const std::string& bytes, bool* nameTaken) {
    File file;
    *nameTaken = false;
    if (!file.CreateNew(path)) {
        *nameTaken = file.LastError() == EEXIST;
        return false;
    }
    const auto size = static_cast<int64_t>(bytes.size());
    const bool ok = file.WriteAt(0, bytes.data(), size) == size && file.Flush();
    file.Close();
    if (!ok) {
        RemoveFile(path);
    }
    return ok;
}

}  // namespace

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') {
        return home;
    }
    passwd entry{};
    passwd* result = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 &&
        result != nullptr && result->pw_dir != nullptr) {
        return result->pw_dir;
    }
    return {};
}

std::string SettingsStore::DefaultPath() {
    const char* explicitPath = std::getenv("QUORVANDEL_SETTINGS");
    if (explicitPath != nullptr && explicitPath[0] != '\0') {
        return explicitPath;
    }
    std::string base;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') {  // relative values are to be ignored
        base = xdg;
    } else {
        const std::string home = HomeFolder();
        base = home.empty() ? ".config" : home + "/.config";
    }
    while (base.size() > 1 && base.back() == '/') {
        base.pop_back();
    }
    if (base != "/") {
        base += '/';
    }
    return base + "quorvandel/quorvandel.reg";
}

SettingsValues SettingsStore::LoadState(FileState* state) const {
    SettingsValues values;
    std::string damage;
    int unreadable = 0;  // the system's error when the bytes could not be had
    File file;
    if (!file.OpenRead(path_, File::Access::Sequential)) {
        const int error = file.LastError();
        if (error == ENOENT || error == ENOTDIR) {
            *state = FileState::Missing;  // no key yet: every value takes its default
            return values;
        }
        if (error == EISDIR || error == EINVAL) {
            damage = error == EISDIR ? "it is a folder" : "it is not a regular file";
        } else {
            unreadable = error;
        }
    } else {
        const int64_t size = file.Size();
        if (size < 0) {
            unreadable = errno;
        } else if (size > kMaxSettingsFileBytes) {
            damage = "larger than 1 MiB";
        } else {
            // One byte more than the size shows a file that grew meanwhile.
            std::string bytes(static_cast<size_t>(size) + 1, '\0');
            const int64_t n = file.ReadAt(0, bytes.data(), size + 1);
            if (n < 0 || file.ReadError() != 0) {
                unreadable = file.LastError();
            } else if (n > kMaxSettingsFileBytes) {
                damage = "larger than 1 MiB";
            } else {
                bytes.resize(static_cast<size_t>(n));
                SettingsValues::Parse(bytes, &values, &damage);
            }
        }
    }
    if (unreadable != 0) {
        WarnUnreadable(path_, unreadable);
        *state = FileState::Unreadable;
        return SettingsValues();
    }
    if (!damage.empty()) {
        WarnDamaged(path_, damage);
        *state = FileState::Damaged;
        return SettingsValues();
    }
    *state = FileState::Valid;
    return values;
}

SettingsValues SettingsStore::Load() const {
    FileState state;
    return LoadState(&state);
}

std::string SettingsStore::ReadText(std::string_view subkey, std::string_view name,
                                    std::string_view defaultText) const {
    return Load().ReadText(subkey, name, defaultText);
}

int32_t SettingsStore::ReadInt(std::string_view subkey, std::string_view name,
                               int32_t defaultValue) const {
    return Load().ReadInt(subkey, name, defaultValue);
}

int SettingsStore::ReadDecimal(std::string_view subkey, std::string_view name,
                               int defaultValue) const {
    return Load().ReadDecimal(subkey, name, defaultValue);
}

bool SettingsStore::WriteText(std::string_view subkey, std::string_view name,
                              std::string_view text) {
    bool stored = false;
    return Edit([&](SettingsValues& v) { stored = v.WriteText(subkey, name, text); }) && stored;
}

bool SettingsStore::WriteDword(std::string_view subkey, std::string_view name, uint32_t value) {
    bool stored = false;
    return Edit([&](SettingsValues& v) { stored = v.WriteDword(subkey, name, value); }) && stored;
}

bool SettingsStore::DeleteValue(std::string_view subkey, std::string_view name) {
    bool deleted = false;
    return Edit([&](SettingsValues& v) { deleted = v.DeleteValue(subkey, name); }) && deleted;
}

bool SettingsStore::Edit(const std::function<void(SettingsValues&)>& change) {
    const std::string target = WriteTarget(path_);
    std::filesystem::path folder = std::filesystem::path(target).parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const bool haveFolder = std::filesystem::is_directory(folder, ec);
    FolderLock lock(folder.string());

    FileState state;
    SettingsValues values = LoadState(&state);
    change(values);
    if (!values.Changed()) {
        return true;
    }
    // Values written over a file that could not be read would lose all its others.
    if (!haveFolder || state == FileState::Unreadable) {
        return false;
    }
    const std::string bytes = values.Serialize();
    if (static_cast<int64_t>(bytes.size()) > kMaxSettingsFileBytes) {
        return false;  // would be refused as damaged when read back
    }

    static std::atomic<unsigned> counter{0};
    std::string temp;
    bool written = false;
    for (int attempt = 0; attempt < 16 && !written; ++attempt) {
        temp = target + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        bool nameTaken = false;
        written = WriteNewFile(temp, bytes, &nameTaken);
        if (!written && !nameTaken) {
            return false;
        }
    }
    if (!written) {
        return false;
    }
    // A damaged file is never overwritten: the user's values in it may still be
    // recoverable by hand, so its bytes move aside first, and if they cannot, the
    // change is dropped instead.
    if (state == FileState::Damaged && !ReplaceFile(target, target + ".bad")) {
        RemoveFile(temp);
        return false;
    }
    if (!ReplaceFile(temp, target)) {
        RemoveFile(temp);
        return false;
    }
    return true;
}

}  // namespace qv
