#pragma once
// The window's model: the input files, the scene list, the settings and the
// output path, and the commands that work on them. The Qt window and the CLI
// both drive it; it reaches the user only through Questions, Progress and MainView.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/SceneList.h"
#include "app/Settings.h"
#include "avi/ClipCopier.h"

namespace qv {

class MainView;
class Progress;
class Questions;
class SettingsStore;

class MainWindowModel {
public:
    // store may be null: nothing is loaded or saved then.
    MainWindowModel(Questions& questions, MainView& view, SettingsStore* store);
    ~MainWindowModel();

    // Loads the settings and the input list; true on the first start.
    bool Load();
    // Saves the settings, the output path and the input list.
    void SaveSettings();

    // The input files, sorted ignoring letter case.
    const std::vector<std::string>& Inputs() const { return inputs_; }
    // Adds path unless the list holds that file already; false then.
    bool AddInput(const std::string& path);
    void RemoveInputs(std::vector<int> indices);
    void RemoveAllInputs();
    // One unscanned record per input file; files that are gone leave the list.
    void RebuildFromInputs();

    // Splits every input file into scenes by datestamp; false when there were no
    // files or the scan was stopped (the scenes found so far are listed).
    bool ScanDatestamps(bool reportNoFiles);
    // The "Scan Datestamps" button: the scan, the first row selected, overlaps; a
    // scan the user stops leaves the list as it was.
    void ScanDatestampsCommand();
    // Splits every input file into scenes reading every frame: at datestamp jumps and
    // at the marks the settings choose; false when there were no files or stopped.
    bool ScanThoroughly(bool reportNoFiles);
    // The "Scan Thoroughly" button, as "Scan Datestamps".
    void ScanThoroughlyCommand();
    // Splits every input file into scenes by picture changes, after a warning that
    // this is less precise; false when not confirmed, no files, or stopped.
    bool ScanOptical(bool reportNoFiles);
    // The "Scan Optical" button: the scan, then the first row selected; a scan the
    // user stops leaves the list as it was.
    void ScanOpticalCommand();
    // Removes or trims scenes recorded twice, after asking.
    void RemoveOverlaps();
    void NameOutputs();
    void SetOutputPath(const std::string& path);
    void SetWriteForSelected(int value, bool advance);
    void UpdateSelectionStatus();
    // The WriteScenes button.
    void WriteScenes();
    // Writes every marked scene; with deleteSources, deletes each source once all
    // its marked scenes are written. True when every marked scene was written.
    bool WriteRun(bool deleteSources);
    // The SaveList button: asks for a file name until one can be written.
    void SaveList();

    // A command is running: the window refuses others until it ends.
    bool Busy() const { return busy_; }

    SceneList scenes;
    Settings settings;
    std::string outputPath;
    std::string lastInput;
    // The copier keeps the source reader shared with the scans, the copy buffer's
    // answers of one write run, and the run-wide answers.
    ClipCopier copier;
    // Copy buffer size of a write run; 0: DefaultCopyBufferBytes().
    uint64_t copyBufferBytes = 0;
    // What the last write run did, for a summary.
    struct RunReport {
        int marked = 0;
        int written = 0;
        int64_t bytes = 0;  // of the files written (moved files included)
        std::vector<std::string> deleted;  // sources deleted or moved to an output
        std::vector<std::string> kept;     // sources of the run that are still there
    };
    RunReport lastRun;
    // Whether a write run that deleted or moved files scans again for the list it
    // shows; the command line, which shows none, does not.
    bool rescanAfterWrite = true;

private:
    // What a file was when it was scanned; a source is copied from or deleted only
    // while it is still that file.
    struct ScannedFile {
        bool complete = false;  // the scan reached its end
        uint64_t device = 0, inode = 0;
        int64_t size = 0, modified = 0;
    };
    // The preparation, file loop and naming that every scan shares; scanFile scans
    // one file as ScanFileDatestamps does.
    using FileScan =
        std::function<int(const std::string& file, Progress& progress, int64_t& framesDone)>;
    bool ScanInputs(bool reportNoFiles, const FileScan& scanFile);
    // Whether path is still the file that was scanned; tells the user why not.
    // Runs scan: whether it ran through. When the user stopped it, the list before it
    // comes back.
    bool ScanOrKeepList(const std::function<bool()>& scan);
    bool StillAsScanned(const std::string& path) const;
    void RemoveInputNamed(const std::string& path);
    bool SourceStillPending(const std::string& path) const;
    // The sources a run that deletes them will delete, each once, in list order.
    std::vector<std::string> SourcesToDelete() const;
    // Per source file scanned to its end, the frames of its scenes that are not
    // marked for writing; files without such frames are not listed.
    std::vector<std::pair<std::string, int64_t>> UnwrittenFrames() const;

    Questions& questions_;
    MainView& view_;
    SettingsStore* store_;
    std::vector<std::string> inputs_;
    std::map<std::string, ScannedFile> scanned_;
    uint32_t lastPreviewTick_ = 0;
    uint32_t lastOpticalTick_ = 0;
    bool busy_ = false;
    bool scanStopped_ = false;  // the last scan was stopped by the user
};

// The longest leading part of path that names an existing folder, or ".".
std::string ExistingDirectoryOf(const std::string& path);

}  // namespace qv
