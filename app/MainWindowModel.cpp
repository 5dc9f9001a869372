#include "app/MainWindowModel.h"

#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>

#include "app/MainView.h"
#include "app/OutputNaming.h"
#include "app/SceneListExport.h"
#include "dv/DatestampScan.h"
#include "dv/ThoroughScan.h"
#include "dv/OpticalScan.h"
#include "dv/OverlapRemoval.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "platform/Progress.h"
#include "platform/Questions.h"
#include "platform/SettingsStore.h"

namespace qv {

namespace {

const char kNoInputFiles[] = "Please specify some inputfiles first.";
const char kDeleteQuestion[] =
    "To save diskspace, Quorvandel will delete the sourcefiles after the marked scenes have "
    "been written.\nDo you want to proceed?";
const char kUnwrittenQuestion[] =
    "These source files hold frames that are in no marked scene; deleting them loses those "
    "frames:";
const char kUnwrittenQuestionEnd[] =
    "Delete these files as well?\n(No writes the marked scenes and keeps these files.)";
const char kErrorOccurred[] = "An error occured!";
const char kCompleted[] = "completed successfully!";
const char kNoOutputFolder[] = "The output folder does not exist:";
const char kNoOutputFolderEnd[] =
    "No scene was written. Please choose an output filename in an existing folder.";

const char kNotAllDone[] = "Not everything was done.";

// "1.5 GB", as file managers count: in powers of 1000.
std::string SizeText(int64_t bytes) {
    const char* units[] = {"bytes", "kB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (value >= 1000.0 && unit < 4) {
        value /= 1000.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", value, units[unit]);
    return text;
}

// The files a deletion takes, up to ten of them, and their size together.
std::string DeletionList(const std::vector<std::string>& files) {
    int64_t bytes = 0;
    for (const std::string& file : files) {
        struct stat st {};
        bytes += ::stat(file.c_str(), &st) == 0 ? st.st_size : 0;
    }
    std::string text = "\n\n" + std::to_string(files.size()) +
                       (files.size() == 1 ? " file, " : " files, ") + SizeText(bytes) + ":";
    constexpr size_t kListed = 10;
    for (size_t i = 0; i < files.size() && i < kListed; ++i) {
        text += "\n" + files[i];
    }
    if (files.size() > kListed) {
        text += "\nand " + std::to_string(files.size() - kListed) + " more";
    }
    return text;
}

// What a run that did not complete did and did not do, after its first line.
std::string RunSummary(const char* first, int marked, int written,
                       const std::vector<std::string>& notDeleted, int undated) {
    // Appended piece by piece: GCC 12 warns, wrongly, of "literal" + std::string at -O3.
    std::string text = first;
    text.append("\n").append(std::to_string(written)).append(" of ");
    text.append(std::to_string(marked)).append(" marked scenes written.");
    for (const std::string& file : notDeleted) {
        text.append("\nNot deleted: ").append(file);
    }
    if (undated > 0) {
        text.append("\n").append(std::to_string(undated));
        text.append(" written files do not carry their recording time as modification time.");
    }
    return text;
}

// A capture whose index did not cover its data: moved as it is, the output would be
// as unfinished as the source; a copy gets a complete index. The same for a raw DV
// file ending in a partial frame, and for a move that would give the file a name of
// another kind than it is.
bool Unfinished(const std::string& file, const std::string& outputName) {
    std::unique_ptr<AviReader> reader = OpenAviFile(file);
    return !reader || reader->IndexRebuilt() || reader->EndsWithPartialFrame() ||
           KindFamily(reader->Kind()) != OutputKindOf(outputName);
}
const char kCannotOpenList[] = "Can't open the file for writing";

// The input list box sorts ignoring letter case.
bool InputBefore(const std::string& a, const std::string& b) {
    int c = ::strcasecmp(a.c_str(), b.c_str());
    return c != 0 ? c < 0 : a < b;
}

// A scene's output name the file system cannot hold (".part" included).
bool NameTooLong(const std::string& path) {
    return path.size() + 5 >= PATH_MAX || FileNameOf(path).size() + 5 > NAME_MAX;
}

}  // namespace

std::string ExistingDirectoryOf(const std::string& path) {
    std::string best = ".";
    for (size_t i = 0; i < path.size() && i < 511; ++i) {
        if (path[i] != '/') {
            continue;
        }
        const std::string prefix = i == 0 ? "/" : path.substr(0, i);
        struct stat st {};
        if (::stat(prefix.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            best = prefix;
        }
    }
    return best;
}

MainWindowModel::MainWindowModel(Questions& questions, MainView& view, SettingsStore* store)
    : copier(questions), questions_(questions), view_(view), store_(store) {
    outputPath = DefaultOutputPath();
}

MainWindowModel::~MainWindowModel() = default;

bool MainWindowModel::Load() {
    if (store_ == nullptr) {
        return false;
    }
    MainWindowState state = LoadMainWindowState(*store_, DefaultOutputPath());
    outputPath = state.outputPath;
    lastInput = state.lastInput;
    LoadSettings(settings, *store_);
    // As stored: the rebuild drops what no longer exists.
    inputs_ = state.inputs;
    std::stable_sort(inputs_.begin(), inputs_.end(), InputBefore);
    view_.InputListChanged();
    return state.firstStart;
}

void MainWindowModel::SaveSettings() {
    if (store_ == nullptr) {
        return;
    }
    MainWindowState state;
    state.outputPath = outputPath;
    state.lastInput = lastInput;
    state.inputs = inputs_;
    SaveMainWindowState(*store_, settings, state);
}

bool MainWindowModel::AddInput(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    // A folder, device or pipe is no video file: refused as the file dialog would.
    // (A name that does not exist yet is kept: the scan drops it if it stays missing.)
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        return false;
    }
    // A file of no kind the program reads would be listed as a scene of 0 frames.
    if (const std::string why = FileKindRefusal(path); !why.empty()) {
        questions_.Tell(path + ": " + why + ".");
        return false;
    }
    for (const std::string& input : inputs_) {
        if (SameFile(input, path)) {
            return false;
        }
    }
    inputs_.insert(std::upper_bound(inputs_.begin(), inputs_.end(), path, InputBefore), path);
    view_.InputListChanged();
    return true;
}

void MainWindowModel::RemoveInputs(std::vector<int> indices) {
    std::sort(indices.rbegin(), indices.rend());
    indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
    for (int i : indices) {
        if (i >= 0 && i < static_cast<int>(inputs_.size())) {
            inputs_.erase(inputs_.begin() + i);
        }
    }
    view_.InputListChanged();
}

void MainWindowModel::RemoveAllInputs() {
    inputs_.clear();
    view_.InputListChanged();
}

void MainWindowModel::RemoveInputNamed(const std::string& path) {
    auto it = std::find_if(inputs_.begin(), inputs_.end(),
                           [&](const std::string& input) { return SameFileName(input, path); });
    if (it != inputs_.end()) {
        inputs_.erase(it);
        view_.InputListChanged();
    }
}

void MainWindowModel::RebuildFromInputs() {
    view_.ShowScenePictures(-1);
    scenes.Clear();
    std::string description;
    const size_t before = inputs_.size();
    for (size_t i = 0; i < inputs_.size();) {
        // Only a file that is gone leaves the list: one that cannot be looked at
        // now is an error of the scan, which says so.
        if (FileGone(inputs_[i])) {
            inputs_.erase(inputs_.begin() + static_cast<std::ptrdiff_t>(i));
            continue;
        }
        Scene scene;
        scene.outputName = inputs_[i];
        scene.sourceFile = inputs_[i];
        scene.write = 1;
        scene.wholeFile = 1;
        scene.unscanned = 1;
        scene.frameCount = ProbeInputFile(inputs_[i], i == 0 ? &description : nullptr);
        scenes.Append(scene);
        ++i;
    }
    if (inputs_.size() != before) {
        view_.InputListChanged();
    }
    NameOutputs();
    view_.RefreshRows(MainView::kAllRows);
    view_.SetFileInformation(description);
}

bool MainWindowModel::ScanInputs(bool reportNoFiles, const FileScan& scanFile) {
    view_.ShowScenePictures(-1);
    scenes.Clear();
    view_.RefreshRows(MainView::kAllRows);

    std::vector<std::string> files;
    std::vector<int> frameCounts;
    std::string description;
    int64_t total = 0;
    const size_t before = inputs_.size();
    for (size_t i = 0; i < inputs_.size();) {
        // Only a file that is gone leaves the list: one that cannot be looked at
        // now is an error of the scan, which says so.
        if (FileGone(inputs_[i])) {
            inputs_.erase(inputs_.begin() + static_cast<std::ptrdiff_t>(i));
            continue;
        }
        files.push_back(inputs_[i]);
        frameCounts.push_back(ProbeInputFile(inputs_[i], i == 0 ? &description : nullptr));
        total += frameCounts.back();
        ++i;
    }
    if (inputs_.size() != before) {
        view_.InputListChanged();
    }
    view_.SetFileInformation(description);
    if (files.empty()) {
        if (reportNoFiles) {
            questions_.Tell(kNoInputFiles);
        }
        return false;
    }

    std::unique_ptr<Progress> progress = view_.OpenProgress("Scanning...");
    progress->SetRange(0, static_cast<int>(std::max<int64_t>(1, total / 256)));
    int64_t framesDone = 0;
    bool ok = true;
    for (size_t k = 0; k < files.size(); ++k) {
        const std::string& file = files[k];
        // What the file is now: a source is later deleted only while it still is.
        ScannedFile identity;
        struct stat st {};
        if (::stat(file.c_str(), &st) != 0) {
            // Not known, it could never be told unchanged: the file is not scanned.
            scanned_.erase(file);
            if (questions_.Ask(WithReason("Can't read this file. " + file, file, errno),
                               Buttons::OkCancel) != Answer::Ok) {
                ok = false;
                break;
            }
            continue;
        }
        identity.device = st.st_dev;
        identity.inode = st.st_ino;
        identity.size = st.st_size;
        identity.modified = st.st_mtim.tv_sec;
        const int64_t start = framesDone;
        const int result = scanFile(file, *progress, framesDone);
        // A probe that failed (a read error that passed) is made again.
        const int frames = frameCounts[k] > 0 ? frameCounts[k] : ProbeInputFile(file, nullptr);
        identity.complete = result == 0 && frames > 0 && framesDone - start == frames;
        scanned_[file] = identity;
        if (result != 0) {
            ok = false;
            scanStopped_ = true;  // the user stopped it: Cancel, or Cancel on a bad file
            break;
        }
    }
    NameOutputs();
    view_.RefreshRows(MainView::kAllRows);
    return ok;
}

bool MainWindowModel::ScanDatestamps(bool reportNoFiles) {
    return ScanInputs(reportNoFiles, [this](const std::string& file, Progress& progress,
                                            int64_t& framesDone) {
        DatestampScanContext context{copier.sourceReader, scenes, questions_, progress,
                                     settings.skipNoDatestamp != 0, &lastPreviewTick_, {}};
        return ScanFileDatestamps(context, file, framesDone);
    });
}

bool MainWindowModel::ScanThoroughly(bool reportNoFiles) {
    const ThoroughSplits splits{settings.splitRecordingStarts != 0,
                                settings.splitTimecodeBreaks != 0,
                                settings.splitFormatChanges != 0};
    return ScanInputs(reportNoFiles, [this, splits](const std::string& file, Progress& progress,
                                                    int64_t& framesDone) {
        DatestampScanContext context{copier.sourceReader, scenes, questions_, progress,
                                     settings.skipNoDatestamp != 0, &lastPreviewTick_, {}};
        return ScanFileThoroughly(context, splits, file, framesDone);
    });
}

bool MainWindowModel::ScanOptical(bool reportNoFiles) {
    if (questions_.AskAs(MessageKind::Information, kOpticalScanWarning, Buttons::OkCancel) !=
        Answer::Ok) {
        return false;
    }
    return ScanInputs(reportNoFiles, [this](const std::string& file, Progress& progress,
                                            int64_t& framesDone) {
        OpticalScanContext context{scenes,         questions_,        progress,
                                   settings.optSensitivity, settings.codec, &lastOpticalTick_,
                                   nullptr};
        return ScanFileOptical(context, file, framesDone);
    });
}

bool MainWindowModel::ScanOrKeepList(const std::function<bool()>& scan) {
    // A stopped scan would leave the list in part: the one it replaced comes back,
    // with the user's write choices and what its files were when scanned.
    SceneList before = scenes;
    std::map<std::string, ScannedFile> scannedBefore = scanned_;
    scanStopped_ = false;
    // A scan not confirmed or without files changes nothing either: no follow-ups.
    const bool scanned = scan();
    if (!scanStopped_) {
        return scanned;
    }
    scenes = std::move(before);
    scanned_ = std::move(scannedBefore);
    NameOutputs();
    view_.RefreshRows(MainView::kAllRows);
    return false;
}

void MainWindowModel::ScanOpticalCommand() {
    if (busy_) {
        return;
    }
    busy_ = true;
    if (ScanOrKeepList([this] { return ScanOptical(true); })) {
        SetWriteForSelected(1, true);
    }
    busy_ = false;
}

void MainWindowModel::ScanDatestampsCommand() {
    if (busy_) {
        return;
    }
    busy_ = true;
    if (ScanOrKeepList([this] { return ScanDatestamps(true); })) {
        SetWriteForSelected(1, true);
        RemoveOverlaps();
    }
    busy_ = false;
}

void MainWindowModel::ScanThoroughlyCommand() {
    if (busy_) {
        return;
    }
    busy_ = true;
    if (ScanOrKeepList([this] { return ScanThoroughly(true); })) {
        SetWriteForSelected(1, true);
        RemoveOverlaps();
    }
    busy_ = false;
}

void MainWindowModel::RemoveOverlaps() {
    OverlapContext context{copier.sourceReader, questions_};
    if (::qv::RemoveOverlaps(context, scenes)) {
        NameOutputs();
        view_.RefreshRows(MainView::kAllRows);
    }
}

void MainWindowModel::NameOutputs() {
    view_.EnableWriteScenes(::qv::NameOutputs(scenes, outputPath));
}

void MainWindowModel::SetOutputPath(const std::string& path) {
    outputPath = path;
    NameOutputs();
    view_.RefreshRows(MainView::kAllRows);
}

void MainWindowModel::SetWriteForSelected(int value, bool advance) {
    const int focused = view_.FocusedRow();
    for (int i : view_.SelectedRows()) {
        if (i < 0 || i >= scenes.Count()) {
            continue;
        }
        if (advance) {
            view_.DeselectRow(i);
        }
        scenes[i].write = value;
        view_.RefreshRows(i);
    }
    if (advance && focused + 1 < scenes.Count()) {
        view_.FocusRow(focused + 1);
    }
    UpdateSelectionStatus();
}

void MainWindowModel::UpdateSelectionStatus() {
    int64_t frames = 0;
    int count = 0;
    int64_t damaged = 0;
    for (int i : view_.SelectedRows()) {
        if (i >= 0 && i < scenes.Count()) {
            frames += scenes[i].frameCount;
            damaged += scenes[i].health.damagedFrames;
            ++count;
        }
    }
    if (count == 0) {
        view_.SetSelectionStatus("");
        return;
    }
    char text[128];
    std::snprintf(text, sizeof text, "length: %s, %d clip%s",
                  FormatFrameTime(static_cast<int32_t>(std::min<int64_t>(frames, INT32_MAX))).c_str(),
                  count, count == 1 ? "" : "s");
    std::string status = text;
    if (damaged > 0) {
        status += ", " + std::to_string(damaged) + " damaged frame" + (damaged == 1 ? "" : "s");
    }
    view_.SetSelectionStatus(status);
}

void MainWindowModel::WriteScenes() {
    if (busy_) {
        return;
    }
    busy_ = true;
    copier.yesForAll = false;
    SaveSettings();
    if (scenes.Count() > 0 || ScanDatestamps(false)) {
        WriteRun(settings.deleteSourceFiles != 0);
    }
    busy_ = false;
}

bool MainWindowModel::SourceStillPending(const std::string& path) const {
    return std::any_of(scenes.begin(), scenes.end(), [&](const Scene& s) {
        return s.pendingWrite != 0 && SameFileName(s.sourceFile, path);
    });
}

bool MainWindowModel::StillAsScanned(const std::string& path) const {
    auto it = scanned_.find(path);
    struct stat st {};
    if (it != scanned_.end() && ::stat(path.c_str(), &st) != 0 && errno != ENOENT &&
        errno != ENOTDIR) {
        questions_.Tell(WithReason("Can't check whether " + path +
                                       " is still as it was scanned; it is left alone.",
                                   path, errno));
        return false;
    }
    const ScannedFile* f = it != scanned_.end() ? &it->second : nullptr;
    if (f == nullptr || f->device != st.st_dev || f->inode != st.st_ino || f->size != st.st_size ||
        f->modified != st.st_mtim.tv_sec) {
        questions_.Tell(path + " has changed since it was scanned. Please scan again.");
        return false;
    }
    return true;
}

std::vector<std::string> MainWindowModel::SourcesToDelete() const {
    std::vector<std::string> files;
    for (const Scene& s : scenes) {
        auto it = scanned_.find(s.sourceFile);
        if (it == scanned_.end() || !it->second.complete) {
            continue;  // kept, and the run says so
        }
        if (std::none_of(files.begin(), files.end(),
                         [&](const std::string& f) { return SameFileName(f, s.sourceFile); })) {
            files.push_back(s.sourceFile);
        }
    }
    return files;
}

std::vector<std::pair<std::string, int64_t>> MainWindowModel::UnwrittenFrames() const {
    std::vector<std::pair<std::string, int64_t>> result;
    for (const Scene& s : scenes) {
        if (s.write != 0 || s.frameCount <= 0) {
            continue;
        }
        // A file scanned only in part is kept anyway, and says so.
        auto it = scanned_.find(s.sourceFile);
        if (it == scanned_.end() || !it->second.complete) {
            continue;
        }
        auto found = std::find_if(result.begin(), result.end(),
                                  [&](const auto& r) { return SameFileName(r.first, s.sourceFile); });
        if (found == result.end()) {
            result.emplace_back(s.sourceFile, s.frameCount);
        } else {
            found->second += s.frameCount;
        }
    }
    return result;
}

bool MainWindowModel::WriteRun(bool deleteSources) {
    // Unscanned records stand for whole files nobody has looked into.
    if (std::any_of(scenes.begin(), scenes.end(), [](const Scene& s) { return s.unscanned; })) {
        return false;
    }
    // An output folder that does not exist takes no scene: said before anything is
    // asked, written, moved or deleted.
    for (const Scene& s : scenes) {
        if (s.write == 0) {
            continue;
        }
        int error = 0;
        if (const std::string missing = MissingFolderOf(s.outputName, &error); !missing.empty()) {
            questions_.Tell(error != 0 ? WithReason("The output folder can't be reached: " +
                                                        missing + "\nNo scene was written.",
                                                    missing, error)
                                       : std::string(kNoOutputFolder) + "\n" + missing + "\n" +
                                             kNoOutputFolderEnd);
            return false;
        }
    }
    // The question names what it deletes: the input list comes back from the last
    // run of the program, and may hold files the user did not add this time.
    if (deleteSources &&
        questions_.Ask(kDeleteQuestion + DeletionList(SourcesToDelete()), Buttons::YesNo) !=
            Answer::Yes) {
        return false;
    }
    // Deleting a source with unmarked scenes loses those frames: the user is asked
    // once more, naming the files, and may keep them.
    std::vector<std::string> keptSources;
    if (deleteSources) {
        std::vector<std::pair<std::string, int64_t>> unwritten = UnwrittenFrames();
        if (!unwritten.empty()) {
            std::string text = kUnwrittenQuestion;
            for (const auto& [file, frames] : unwritten) {
                text += "\n" + file + " (" +
                        FormatFrameTime(static_cast<int32_t>(std::min<int64_t>(frames, INT32_MAX))) +
                        ")";
            }
            text += "\n";
            text += kUnwrittenQuestionEnd;
            // Frames would be lost: only an answer given on purpose deletes them.
            if (questions_.Ask(text, Buttons::YesNoDefaultNo) != Answer::Yes) {
                for (const auto& u : unwritten) {
                    keptSources.push_back(u.first);
                }
            }
        }
    }
    bool changed = false;
    bool allWritten = true;
    bool failed = false;
    bool stopped = false;
    // What the end of the run tells: it says "completed successfully!" only when every
    // marked scene was written and every deletion asked for was made.
    lastRun = RunReport{};
    int& marked = lastRun.marked;
    int& written = lastRun.written;
    std::vector<std::string> notDeleted;
    auto countWritten = [&](const std::string& file) {
        struct stat st {};
        lastRun.bytes += ::stat(file.c_str(), &st) == 0 ? st.st_size : 0;
        ++written;
    };
    int undated = 0;  // outputs that could not be given their recording time
    const int timeErrorsBefore = copier.timeErrors;
    {
        std::unique_ptr<Progress> progress = view_.OpenProgress("writing clips...");
        copier.ignoreAudioErrors = false;
        const uint64_t bytes = copyBufferBytes != 0 ? copyBufferBytes : DefaultCopyBufferBytes();
        // Untouched pages cost nothing: a short scene takes only what it reads.
        auto buffer = std::make_unique_for_overwrite<uint8_t[]>(bytes);
        copier.copyBuffer = std::span<uint8_t>(buffer.get(), bytes);

        int64_t total = 0;
        for (Scene& s : scenes) {
            s.pendingWrite = s.write != 0 ? 1 : 0;
            total += s.write != 0 ? s.frameCount : 0;
            marked += s.write != 0 ? 1 : 0;
        }
        int divisor = 1;
        while (total / divisor > 1024) {
            divisor *= 2;
        }
        const int range = static_cast<int>(std::max<int64_t>(1, total / divisor));
        progress->SetRange(0, range);
        int framesDone = 0;

        for (int i = 0; i < scenes.Count(); ++i) {
            Scene& s = scenes[i];
            if (progress->Stopping()) {
                failed = true;
                break;
            }
            progress->SetText("writing " + s.outputName);
            if (s.write != 0) {
                view_.ShowScenePictures(i);
                // Nothing is ever written onto an input file, the scene's own above all.
                const bool ontoInput = std::any_of(
                    inputs_.begin(), inputs_.end(),
                    [&](const std::string& input) { return SameFile(input, s.outputName); });
                if (SameFile(s.outputName, s.sourceFile) || ontoInput) {
                    questions_.Tell(s.outputName +
                                    " is an input file; the scene is not written onto it.");
                    allWritten = false;
                    continue;  // still pending: its source is kept
                }
                if (NameTooLong(s.outputName)) {
                    questions_.Tell("The file name is too long: " + s.outputName);
                    allWritten = false;
                    continue;
                }
                if (!StillAsScanned(s.sourceFile)) {
                    failed = true;
                    break;
                }
                const bool complete = scanned_[s.sourceFile].complete;
                if (s.wholeFile != 0 && deleteSources && complete &&
                    !SameFileName(s.sourceFile, s.outputName) &&
                    !Unfinished(s.sourceFile, s.outputName)) {
                    view_.ShowScenePictures(-1);
                    if (copier.sourceReader && SameFile(copier.sourceReader->FileName(), s.sourceFile)) {
                        copier.sourceReader.reset();
                    }
                    // Never onto an existing file: that case goes through the copy, which asks.
                    if (RenameNoReplace(s.sourceFile, s.outputName)) {
                        changed = true;
                        countWritten(s.outputName);
                        lastRun.deleted.push_back(s.sourceFile);
                        // Dated with its recording time like a copied scene (0: no
                        // datestamp, -1: none the platform can represent). The move
                        // itself is done: a failure here costs only the date, as on
                        // the copy's way.
                        if (s.datestamp > 0 && !SetModificationTime(s.outputName, s.datestamp)) {
                            ++undated;
                            questions_.Tell(TimeFailure(s.outputName, errno));
                        }
                        // The new name is on the disk only once its folder is.
                        if (!FlushFolderOf(s.outputName)) {
                            allWritten = false;
                            questions_.Tell(WithReason("The move of " + s.sourceFile + " to " +
                                                           s.outputName + " is not on the disk yet.",
                                                       s.outputName, errno));
                        }
                        continue;
                    }
                }
                if (copier.CopyScene(s.outputName, s, *progress, framesDone, divisor) != 0) {
                    failed = true;
                    break;
                }
                countWritten(s.outputName);
            }
            s.pendingWrite = 0;
            // Deleted or moved already (an earlier scene of it), nothing to delete.
            if (deleteSources && !SourceStillPending(s.sourceFile) && !FileGone(s.sourceFile)) {
                if (!StillAsScanned(s.sourceFile)) {
                    failed = true;
                    break;
                }
                if (std::find(keptSources.begin(), keptSources.end(), s.sourceFile) !=
                    keptSources.end()) {
                    continue;  // the user chose to keep it, or we told why already
                }
                // A file scanned only in part holds frames that exist nowhere else.
                if (!scanned_[s.sourceFile].complete) {
                    keptSources.push_back(s.sourceFile);
                    notDeleted.push_back(s.sourceFile);
                    questions_.Tell(s.sourceFile +
                                    " was not scanned to its end; it is not deleted.");
                    continue;
                }
                // The program is being stopped: it may have come after the last frame
                // was written, but the source stays all the same.
                if (progress->Stopping()) {
                    failed = true;
                    break;
                }
                if (copier.sourceReader && SameFile(copier.sourceReader->FileName(), s.sourceFile)) {
                    copier.sourceReader.reset();
                }
                view_.ShowScenePictures(-1);
                if (!RemoveFile(s.sourceFile)) {
                    // Still there: it stays in the list, and the run says so.
                    notDeleted.push_back(s.sourceFile);
                    keptSources.push_back(s.sourceFile);
                    questions_.Tell(
                        WithReason("Can't delete " + s.sourceFile, s.sourceFile, errno));
                    continue;
                }
                RemoveInputNamed(s.sourceFile);
                lastRun.deleted.push_back(s.sourceFile);
                changed = true;
            }
        }
        auto listed = [](const std::vector<std::string>& files, const std::string& file) {
            return std::any_of(files.begin(), files.end(),
                               [&](const std::string& f) { return SameFileName(f, file); });
        };
        for (const Scene& s : scenes) {
            if (!listed(lastRun.deleted, s.sourceFile) && !listed(lastRun.kept, s.sourceFile) &&
                !FileGone(s.sourceFile)) {
                lastRun.kept.push_back(s.sourceFile);
            }
        }
        undated += copier.timeErrors - timeErrorsBefore;
        if (!failed && allWritten && notDeleted.empty() && undated == 0) {
            // The bar of a finished run stands full under the message.
            progress->SetPosition(range, "", nullptr, -1);
            questions_.Report(kCompleted);
        } else if (!progress->Stopping()) {
            questions_.Tell(RunSummary(failed ? kErrorOccurred : kNotAllDone, marked, written,
                                       notDeleted, undated));
        }
        copier.copyBuffer = {};
        stopped = progress->Stopping();
    }
    // A stopped program does not scan again: it is on its way out.
    if (changed && !stopped && rescanAfterWrite) {
        ScanDatestamps(false);
        SetWriteForSelected(1, true);
    }
    return !failed && allWritten && notDeleted.empty() && undated == 0;
}

void MainWindowModel::SaveList() {
    for (;;) {
        std::optional<std::string> path =
            view_.AskSaveFileName("Save scenelist as textfile", ExistingDirectoryOf(outputPath));
        if (!path) {
            return;
        }
        bool openFailed = false;
        if (WriteSceneListFile(*path, scenes, &openFailed)) {
            return;
        }
        questions_.Tell(openFailed ? kCannotOpenList : "Can't write the file completely: " + *path);
    }
}

}  // namespace qv
