#include "clipsheet/BitmapExport.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <cmath>

#include "app/MainWindowModel.h"
#include "app/OutputNaming.h"
#include "avi/AviReader.h"
#include "avi/AviWriter.h"
#include "dv/BitmapImage.h"
#include "dv/PictureDecoder.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "platform/Progress.h"
#include "platform/Questions.h"
#include "platform/SettingsStore.h"

namespace qv {

namespace {

bool IsInput(const std::string& path, const std::vector<std::string>& inputFiles) {
    return std::any_of(inputFiles.begin(), inputFiles.end(),
                       [&](const std::string& input) { return SameFile(path, input); });
}

// Whether an existing regular file begins like a bitmap file ("BM").
bool HoldsBitmap(const std::string& path) {
    File file;
    uint8_t magic[2] = {};
    return file.OpenRead(path, File::Access::Random) && file.ReadAt(0, magic, 2) == 2 &&
           magic[0] == 'B' && magic[1] == 'M';
}

}  // namespace

bool SaveBmp(const PackedDib& picture, const std::string& path, Questions& questions,
             const std::vector<std::string>& inputFiles) {
    // Nothing is ever written onto an input: a base picked from an earlier video
    // output would otherwise replace the scene's video with its picture.
    if (IsInput(path, inputFiles)) {
        questions.Tell(std::string(kCannotSaveBitmap) + "\n" + path +
                       " is one of the input files.");
        return false;
    }
    struct stat st {};
    const bool exists = ::stat(path.c_str(), &st) == 0;
    if (!exists && errno != ENOENT) {
        // Whether a file stands there is not known: it would be replaced unasked.
        questions.Tell(WithReason(kCannotSaveBitmap, path, errno));
        return false;
    }
    if (exists) {
        if (!S_ISREG(st.st_mode)) {
            questions.Tell(kCannotSaveBitmap);
            return false;
        }
        if (!HoldsBitmap(path) && questions.Ask(std::string(kReplaceNotBitmap) + "\n" + path,
                                                Buttons::YesNoDefaultNo) != Answer::Yes) {
            return false;
        }
    }
    const std::optional<std::vector<uint8_t>> bytes = BmpFileBytes(picture);
    if (!bytes) {
        questions.Tell(kCannotSaveBitmap);
        return false;
    }
    std::string temporary = TemporaryNameFor(path);
    for (int i = 1; IsInput(temporary, inputFiles); ++i) {
        temporary = path + "." + std::to_string(i) + ".part";
    }
    // A leftover of an export that was killed goes; the file of the final name stays.
    RemoveFile(temporary);
    File file;
    if (!file.CreateNew(temporary)) {
        questions.Tell(WithReason(kCannotSaveBitmap, temporary, file.LastError()));
        return false;
    }
    const auto size = static_cast<int64_t>(bytes->size());
    bool ok = file.WriteAt(0, bytes->data(), size) == size && file.Flush();
    int error = file.LastError();
    file.Close();
    if (ok && !ReplaceFile(temporary, path)) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        RemoveFile(temporary);
        questions.Tell(WithReason(kCannotSaveBitmap, path, error));
    }
    return ok;
}

bool HasLength(int32_t frameCount, int32_t lengthSeconds, float fps) {
    // In double: a typed length of any size neither overflows nor wraps.
    const double rate = static_cast<double>(fps);
    const double d = std::trunc(static_cast<double>(frameCount) - lengthSeconds * rate);
    return std::fabs(d) <= 2.0 * rate;
}

int ChooseScenes(SceneList& scenes, const BitmapExportSettings& settings,
                 const std::vector<int>& selectedRows, float fps) {
    std::vector<bool> selected(static_cast<size_t>(scenes.Count()), false);
    for (int row : selectedRows) {
        if (row >= 0 && row < scenes.Count()) {
            selected[static_cast<size_t>(row)] = true;
        }
    }
    int chosen = 0;
    for (int i = 0; i < scenes.Count(); ++i) {
        Scene& scene = scenes[i];
        scene.mark = 0;
        if (settings.selectedOnly != 0 && !selected[static_cast<size_t>(i)]) {
            continue;
        }
        if (settings.useLength == 1 && !HasLength(scene.frameCount, settings.lengthSeconds, fps)) {
            continue;
        }
        scene.mark = 1;
        ++chosen;
    }
    return chosen;
}

std::string BitmapBasePath(const std::string& chosenPath) {
    PathParts parts = SplitPath(chosenPath);
    // Only the file name is cut: an apostrophe in a folder's name is part of it.
    if (const size_t apostrophe = parts.name.find('\''); apostrophe != std::string::npos) {
        parts.name.resize(apostrophe);
    }
    std::string lower = parts.extension;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return parts.drive + parts.folder + parts.name + (lower == ".bmp" ? parts.extension : ".bmp");
}

BitmapExport::BitmapExport(Questions& questions, SettingsStore* store)
    : questions_(questions), store_(store) {}

void BitmapExport::SaveSettings(const BitmapExportSettings& settings) {
    if (store_ != nullptr) {
        SaveBitmapExportSettings(settings, *store_);
    }
}

BitmapExportResult BitmapExport::SaveBitmaps(BitmapExportSettings& settings, SceneList& scenes,
                                             const std::vector<int>& selectedRows,
                                             const AskFileName& askFileName,
                                             const OpenProgress& openProgress) {
    BitmapExportResult result;
    SaveSettings(settings);
    result.chosen = ChooseScenes(scenes, settings, selectedRows, framesPerSecond);
    if (result.chosen == 0) {
        questions_.Tell(kNoScenesMatch);
        return result;
    }
    const std::string fileName = FileNameOf(settings.lastOutput).empty() ? "clip.bmp" : "";
    const std::optional<std::string> chosen =
        askFileName(ExistingDirectoryOf(settings.lastOutput), fileName);
    if (!chosen) {
        result.cancelled = true;
        return result;
    }
    settings.lastOutput = BitmapBasePath(*chosen);
    SaveSettings(settings);
    std::unique_ptr<Progress> progress = openProgress();
    SilentProgress silent;
    SavePictures(scenes, settings, progress ? *progress : silent, result);
    return result;
}

void BitmapExport::SavePictures(const SceneList& scenes, const BitmapExportSettings& settings,
                                Progress& progress, BitmapExportResult& result) {
    std::vector<std::string> protectedFiles = inputFiles;
    int marked = 0;
    for (const Scene& scene : scenes) {
        protectedFiles.push_back(scene.sourceFile);
        if (!scene.referencedFile.empty()) {
            protectedFiles.push_back(scene.referencedFile);
        }
        marked += scene.mark == 1 ? 1 : 0;
    }
    progress.SetRange(0, std::max(marked, 1));

    // The decoder lets go of the reader's stream before the reader goes.
    std::unique_ptr<AviReader> reader;
    PictureDecoder decoder(codecSetting);
    PackedDib picture;
    int k = 0;
    for (const Scene& scene : scenes) {
        if (scene.mark != 1) {
            continue;
        }
        progress.SetPosition(k++, {}, nullptr, 0);
        if (progress.CancelRequested()) {
            result.cancelled = true;
            break;
        }
        int openError = 0;
        if (!reader || !SameFile(reader->FileName(), scene.sourceFile) ||
            reader->ReadError() != 0) {
            decoder.Detach();
            reader.reset();
            reader = OpenAviFile(scene.sourceFile, &openError);
        }
        AviStream* video = reader && reader->StreamCount() > 0 ? reader->Stream(0) : nullptr;
        decoder.Attach(scene.sourceFile, video, 0);
        // The middle frame, the count halved as unsigned.
        const int64_t middle = int64_t{scene.firstFrame} +
                               static_cast<int64_t>(static_cast<uint32_t>(scene.frameCount) / 2);
        if (video == nullptr || middle < 0 || middle >= video->Length() ||
            !decoder.DecodeFrame(static_cast<int>(middle), picture)) {
            // A file that cannot be read is said to be so, with the system's reason (a
            // file that is gone is counted with the scenes without picture).
            const int error = openError != 0 ? openError : reader ? reader->ReadError() : 0;
            if (error != 0 && error != ENOENT) {
                questions_.Tell(WithReason("Can't read this file. " + scene.sourceFile,
                                           scene.sourceFile, error));
            }
            ++result.withoutPicture;
            continue;
        }
        const std::string name = StillPictureName(settings.lastOutput, scene.nameSuffix);
        if (picture.Width() < 0 || picture.Height() < 0) {
            questions_.Tell(kBitmapTooLarge);
            result.failed.push_back(name);
            continue;
        }
        if (settings.deinterlace != 0) {
            KeepOneField(picture, settings.deinterlace == 1);
        }
        if (settings.cropH != 0 || settings.cropV != 0) {
            CropEdges(picture, settings.cropV, settings.cropH);
        }
        if (SaveBmp(picture, name, questions_, protectedFiles)) {
            result.saved.push_back(name);
            if (onSaved) {
                onSaved(name);
            }
        } else {
            result.failed.push_back(name);
        }
    }
    decoder.Detach();
}

}  // namespace qv
