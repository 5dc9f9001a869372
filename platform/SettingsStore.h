#pragma once
// The program's settings key and its subkeys, kept per user in a text file in the
// Windows ".reg" format:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\SOFTWARE\Quorvandel\Quorvandel]
//   "output"="/home/u/scenes.avi"
//   "ran"=dword:00000002
//
//   [HKEY_CURRENT_USER\SOFTWARE\Quorvandel\Quorvandel\ClipList]
//   "PicsPerLine"="6"
//
// Values are text or 32-bit integers; names compare without regard to letter case
// and keep the spelling they were first stored with. Every read reads the file;
// every change rewrites it through a temporary file, flushed and renamed into
// place, so the file is always either the old or the new version.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qv {

// The main key; other subkeys are named relative to it ("ClipList").
inline constexpr std::string_view kMainKey = "";
inline constexpr std::string_view kClipListKey = "ClipList";

// Limits that keep a damaged or hostile file from costing much; the writer never
// writes more than the reader accepts.
inline constexpr int64_t kMaxSettingsFileBytes = 1 << 20;
inline constexpr size_t kMaxSettingsTextBytes = 32 * 1024;
inline constexpr size_t kMaxSettingsNameBytes = 1024;

struct SettingsValue {
    enum class Type { Text, Dword };
    std::string name;  // as first stored
    Type type = Type::Text;
    std::string text;    // Type::Text
    uint32_t dword = 0;  // Type::Dword
};

// The content of one settings file in memory: the main key and its subkeys.
class SettingsValues {
public:
    SettingsValues();

    // Parses the file's bytes. Lines it does not understand, values of other types
    // and sections of other keys are skipped, and so not written back. Returns
    // false, with the reason, for a file that is not settings text at all (wrong
    // first line, binary data): its values are then empty.
    static bool Parse(std::string_view bytes, SettingsValues* values, std::string* damage);
    // The file's bytes, CRLF line ends as the format's own editor writes them.
    std::string Serialize() const;

    const SettingsValue* Find(std::string_view subkey, std::string_view name) const;
    // The values of a key in stored order; empty when the key does not exist.
    const std::vector<SettingsValue>& ValuesOf(std::string_view subkey) const;

    // ReadText's rule applied to one value (null: missing).
    static std::string TextOf(const SettingsValue* value, std::string_view defaultText = {});
    // Text read through a 512-byte buffer: a value that is missing, empty, or needs
    // more than 512 bytes with its terminating zero gives defaultText. An integer
    // value reads as its decimal text.
    std::string ReadText(std::string_view subkey, std::string_view name,
                         std::string_view defaultText = {}) const;
    // A 32-bit integer value; missing, or stored as text: defaultValue.
    int32_t ReadInt(std::string_view subkey, std::string_view name, int32_t defaultValue) const;
    // Decimal text by the C library's atoi rules (leading blanks, optional sign,
    // digits up to the first other character, no digits give 0, clamped to int);
    // text that reads as empty by ReadText gives defaultValue.
    int ReadDecimal(std::string_view subkey, std::string_view name, int defaultValue) const;

    // Text is cut at a zero byte, as a C string would be. False for a name that is
    // empty, too long or holds control characters, or text beyond the size limit.
    bool WriteText(std::string_view subkey, std::string_view name, std::string_view text);
    bool WriteDword(std::string_view subkey, std::string_view name, uint32_t value);
    // False when the value does not exist.
    bool DeleteValue(std::string_view subkey, std::string_view name);

    // Whether a write or delete changed anything since parsing.
    bool Changed() const { return changed_; }

private:
    struct Key {
        std::string name;  // "" for the main key
        std::vector<SettingsValue> values;
    };
    const Key* FindKey(std::string_view subkey) const;
    Key* FindKey(std::string_view subkey);
    Key* FindOrAddKey(std::string_view subkey);
    bool Store(std::string_view subkey, std::string_view name, const SettingsValue& value);

    std::vector<Key> keys_;  // keys_[0] is the main key
    bool changed_ = false;
};

class SettingsStore {
public:
    explicit SettingsStore(std::string path) : path_(std::move(path)) {}

    // $QUORVANDEL_SETTINGS when set; otherwise $XDG_CONFIG_HOME (when absolute) or
    // ~/.config, followed by quorvandel/quorvandel.reg.
    static std::string DefaultPath();
    const std::string& Path() const { return path_; }

    // The file's current content. A missing file is an empty store. A file that
    // cannot be read or is damaged also gives an empty store, and one warning line
    // on stderr per file and process.
    SettingsValues Load() const;

    std::string ReadText(std::string_view subkey, std::string_view name,
                         std::string_view defaultText = {}) const;
    int32_t ReadInt(std::string_view subkey, std::string_view name, int32_t defaultValue) const;
    int ReadDecimal(std::string_view subkey, std::string_view name, int defaultValue) const;

    // Each a rewrite of its own. False when nothing was stored.
    bool WriteText(std::string_view subkey, std::string_view name, std::string_view text);
    bool WriteDword(std::string_view subkey, std::string_view name, uint32_t value);
    bool DeleteValue(std::string_view subkey, std::string_view name);

    // Several changes in one rewrite: change runs on the current content (also when
    // the folder cannot be made: reads inside still work), which is then written
    // back if it changed. Other processes' edits wait meanwhile.
    // A damaged file is first renamed to "<path>.bad" (replacing an older one), so
    // its bytes survive; when that rename fails nothing is written. False when the
    // changes could not be stored (a key-open or write failure, or a result larger
    // than the reader accepts); the file is then as before.
    bool Edit(const std::function<void(SettingsValues&)>& change);

private:
    // Unreadable: the file is there but the system would not give its bytes (no
    // permission, a read error): nothing is known of it, so it is neither moved
    // aside nor replaced.
    enum class FileState { Missing, Valid, Damaged, Unreadable };
    SettingsValues LoadState(FileState* state) const;

    std::string path_;
};

// The user's home folder: $HOME, else the user database; empty when neither knows.
std::string HomeFolder();

}  // namespace qv
