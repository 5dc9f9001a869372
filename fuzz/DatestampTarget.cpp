#include <unistd.h>

#include <algorithm>
#include <string>

#include "avi/AviReader.h"
#include "avi/RiffAviReader.h"
#include "dv/Datestamp.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/FuzzTargets.h"
#include "platform/Questions.h"

namespace qvfuzz {

namespace {

class CountingQuestions : public qv::Questions {
public:
    qv::Answer Ask(const std::string&, qv::Buttons buttons, const std::string&) override {
        ++asked;
        return buttons == qv::Buttons::Ok ? qv::Answer::Ok : qv::Answer::Cancel;
    }
    int asked = 0;
};

// Runs inside the scratch folder, so that the relative names of "REF " chunks
// find the data file; the working folder is restored afterwards.
class InScratchFolder {
public:
    InScratchFolder() {
        char* cwd = ::getcwd(nullptr, 0);
        Check(cwd != nullptr, "no working folder");
        previous_ = cwd;
        ::free(cwd);
        Check(::chdir(ScratchDir().c_str()) == 0, "cannot enter the scratch folder");
    }
    ~InScratchFolder() { Check(::chdir(previous_.c_str()) == 0, "cannot leave the scratch folder"); }

private:
    std::string previous_;
};

}  // namespace

int FuzzDatestamp(const uint8_t* data, size_t size) {
    const uint8_t* end = data + size;
    const uint8_t* marker =
        std::search(data, end, kRefDataMarker.begin(), kRefDataMarker.end());
    const std::string path = WriteScratchFile("input.avi", data, static_cast<size_t>(marker - data));
    if (marker != end) {
        const uint8_t* ref = marker + kRefDataMarker.size();
        WriteScratchFile("r", ref, static_cast<size_t>(end - ref));
    }
    {
        InScratchFolder inScratch;
        if (auto reader = qv::OpenAviFile(path); reader && reader->StreamCount() > 0) {
            qv::AviStream& video = *reader->Stream(0);
            qv::RefFileCache cache;
            CountingQuestions questions;
            std::string referenced;
            const int frames = video.Length();
            // The first unit of every chunk: every frame of a video stream. A damaged
            // file whose stream 0 is audio counts sample frames, up to 2^31 of them
            // in one chunk; one read per chunk keeps the walk as long as the index.
            // Chunks smaller than one sample frame share their first unit with the
            // next chunk: each unit is read once, as the scan reads each frame once.
            // Raw DV and QuickTime files have no chunk index: their first frames are
            // read (a QuickTime sample table may claim far more frames than its data
            // holds).
            if (auto* riff = dynamic_cast<qv::RiffAviStream*>(&video)) {
                int lastRead = -1;
                for (const qv::IndexEntry& entry : riff->Entries()) {
                    if (entry.firstUnit < frames && entry.firstUnit != lastRead) {
                        lastRead = entry.firstUnit;
                        (void)qv::ReadFrameDatestamp(video, entry.firstUnit, cache, &referenced,
                                                     &questions);
                    }
                }
            } else {
                for (int frame = 0; frame < std::min(frames, 64); ++frame) {
                    (void)qv::ReadFrameDatestamp(video, frame, cache, &referenced, &questions);
                }
            }
            Check(questions.asked <= 1, "an unreadable reference reported more than once");
            (void)qv::ReadFrameDatestamp(video, -1, cache, nullptr, nullptr);
            (void)qv::ReadFrameDatestamp(video, frames, cache, nullptr, nullptr);
        }
    }
    ClearScratch();
    return 0;
}

}  // namespace qvfuzz
