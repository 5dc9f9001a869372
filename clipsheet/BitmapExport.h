#pragma once
// The bitmap export: one still picture of each chosen scene, the middle frame
// decoded, optionally reduced to one field and cropped, saved as a .bmp file
// named from a base path and the scene's name suffix. The export dialog and the
// command-line program both run it; it reaches the user through Questions and
// Progress only.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/SceneList.h"
#include "clipsheet/BitmapExportSettings.h"
#include "dv/PackedDib.h"

namespace qv {

class Progress;
class Questions;
class SettingsStore;

inline constexpr char kNoScenesMatch[] = "No scenes match the criterias!";
inline constexpr char kCannotSaveBitmap[] = "Can not save bitmap";
inline constexpr char kBitmapTooLarge[] = "Bitmap too large";
// Starts the question asked before a file that is not a bitmap is replaced.
inline constexpr char kReplaceNotBitmap[] =
    "Replace this file, which is not a bitmap, with a picture?";

// Saves picture as a .bmp file at path: written under a temporary name beside
// it, flushed and renamed into place only when complete, so a failure leaves
// no partial file and any earlier file of that name as it was. Refuses to touch
// a file that is one of inputFiles; asks (No as default) before replacing an
// existing file that is not a bitmap. "Can not save bitmap" when the picture
// is not one with a 40-byte header or the file cannot be created or written.
// True when the file was saved.
bool SaveBmp(const PackedDib& picture, const std::string& path, Questions& questions,
             const std::vector<std::string>& inputFiles);

// Whether a scene of frameCount frames lies within two seconds either way of
// lengthSeconds at the frame rate fps.
bool HasLength(int32_t frameCount, int32_t lengthSeconds, float fps);

// Marks (mark = 1) the scenes the settings choose and unmarks the others: those
// whose rows are in selectedRows when selectedOnly is set, and of them those of
// the length when useLength is set. Returns how many are marked.
int ChooseScenes(SceneList& scenes, const BitmapExportSettings& settings,
                 const std::vector<int>& selectedRows, float fps);

// The base path of a chosen file name: its file name cut at the first
// apostrophe, so a file of an earlier export names the same base again, and
// ending in ".bmp" (any other extension, such as ".avi", is replaced: the files
// are bitmaps whatever the name typed said).
std::string BitmapBasePath(const std::string& chosenPath);

struct BitmapExportResult {
    int chosen = 0;                   // scenes the criteria chose
    std::vector<std::string> saved;   // files saved, in list order
    std::vector<std::string> failed;  // files that could not be saved
    int withoutPicture = 0;           // chosen scenes whose frame did not decode
    bool cancelled = false;           // the file dialog or the progress was cancelled
};

class BitmapExport {
  public:
    // store: where the settings are saved on every run; null: nowhere.
    BitmapExport(Questions& questions, SettingsStore* store);

    // The decoder to prefer (the "Codec" setting); empty: located by the stream.
    std::string codecSetting;
    // Files never written onto, besides every scene's source and referenced file.
    std::vector<std::string> inputFiles;
    // Told of every file saved, as soon as it is.
    std::function<void(const std::string& path)> onSaved;

    // The file dialog: the chosen path, nothing when cancelled.
    using AskFileName = std::function<std::optional<std::string>(const std::string& initialFolder,
                                                                 const std::string& fileName)>;
    using OpenProgress = std::function<std::unique_ptr<Progress>()>;

    // The "Save Bitmaps" command: saves the settings, chooses the scenes ("No
    // scenes match the criterias!" when none), asks for the file name, takes its
    // base path as lastOutput and saves the settings again, then saves the
    // pictures with a progress from openProgress.
    BitmapExportResult SaveBitmaps(BitmapExportSettings& settings, SceneList& scenes,
                                   const std::vector<int>& selectedRows,
                                   const AskFileName& askFileName,
                                   const OpenProgress& openProgress);

    // The pictures of the marked scenes, named from settings.lastOutput; Cancel
    // stops before the next scene.
    void SavePictures(const SceneList& scenes, const BitmapExportSettings& settings,
                      Progress& progress, BitmapExportResult& result);

  private:
    void SaveSettings(const BitmapExportSettings& settings);

    Questions& questions_;
    SettingsStore* store_;
};

}  // namespace qv
