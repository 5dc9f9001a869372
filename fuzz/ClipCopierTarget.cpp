#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/SceneList.h"
#include "avi/AviReader.h"
#include "avi/ClipCopier.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/FuzzTargets.h"
#include "platform/Progress.h"
#include "platform/Questions.h"

namespace qvfuzz {

namespace {

// Small, so that a scene of a few frames takes several refills and segments:
// 16 KiB, or room for two and a half of the source's first frame when that is
// larger (real DV), at most 1 MiB.
size_t CopyBufferFor(qv::AviStream& video) {
    const int64_t frame = video.ChunkSize(0);
    return static_cast<size_t>(std::clamp<int64_t>(frame * 5 / 2, 16 * 1024, 1 << 20));
}
constexpr uint32_t kSegmentLimit = 64 * 1024;
constexpr int32_t kTime = 1089800430;  // 2004-07-14 10:20:30 UTC

// Goes on wherever it is asked: overwrite, ignore audio errors, do not abort.
class GoOnQuestions : public qv::Questions {
public:
    qv::Answer Ask(const std::string&, qv::Buttons buttons, const std::string&) override {
        switch (buttons) {
        case qv::Buttons::Ok: return qv::Answer::Ok;
        case qv::Buttons::OkCancel: return qv::Answer::Ok;
        case qv::Buttons::YesNo: return qv::Answer::No;
        case qv::Buttons::YesNoDefaultNo: return qv::Answer::Yes;
        case qv::Buttons::YesYesForAllAbort: return qv::Answer::Yes;
        }
        return qv::Answer::Ok;
    }
};

}  // namespace

int FuzzClipCopier(const uint8_t* data, size_t size) {
    const std::string source = WriteScratchFile("source.avi", data, size);
    const std::string destination = ScratchPath("scene.avi");
    auto reader = qv::OpenAviFile(source);
    if (reader && reader->StreamCount() > 0) {
        // The scene: from the frame and of the length that the input's last two
        // bytes choose (bytes past the RIFF end, or the data's own).
        const int length = reader->Stream(0)->Length();
        const int span = length + 2;
        const int first = size >= 2 ? data[size - 2] % span : 0;
        const int count = size >= 1 ? data[size - 1] % span : length;
        qv::Scene scene;
        scene.sourceFile = source;
        scene.firstFrame = first;
        scene.frameCount = count;
        scene.datestamp = kTime;

        std::vector<uint8_t> buffer(CopyBufferFor(*reader->Stream(0)));
        GoOnQuestions questions;
        qv::SilentProgress progress;
        qv::ClipCopier copier(questions);
        copier.sourceReader = std::move(reader);
        copier.copyBuffer = buffer;
        copier.segmentLimit = kSegmentLimit;
        int framesDone = 0;
        if (copier.CopyScene(destination, scene, progress, framesDone, 1) == 0) {
            copier.sourceReader.reset();
            auto copy = qv::OpenAviFile(destination);
            Check(copy != nullptr, "a written scene does not open");
            Check(copy->FrameCount() == count, "a written scene has other frames");
            ExerciseReader(*copy);
        }
    }
    ClearScratch();
    return 0;
}

}  // namespace qvfuzz
