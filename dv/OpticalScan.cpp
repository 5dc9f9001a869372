#include "dv/OpticalScan.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "app/Settings.h"
#include "platform/Platform.h"
#include "platform/Progress.h"
#include "platform/Questions.h"

namespace qv {

namespace {

static_assert(kOpticalSensitivities == kSensitivityPresets);

struct SensitivityPreset {
    const char* text;
    float factor;
};
// clang-format off
constexpr SensitivityPreset kPresets[kOpticalSensitivities] = {
    {"very high - \"studio camera\"", 1.03f},
    {"high", 1.08f},
    {"medium", 1.13f},
    {"low", 1.18f},
    {"very low - \"shaky Homevideo\"", 1.21f},
};
// clang-format on

constexpr int kCropMargin = 10;
constexpr int kLongestStep = 27;
constexpr int kMatchesBeforeLonger = 5;
// Movement of up to this many cells in any direction is tolerated.
constexpr int kReach = 3;
constexpr uint32_t kPreviewIntervalMs = 2000;

// "Can't read/render this file. " with OK (next file) and Cancel (stop); the system's
// reason follows on a line of its own when there is one.
int CannotRender(Questions& questions, const std::string& fileName, int error = 0) {
    return questions.Ask(WithReason("Can't read/render this file. " + fileName, fileName, error),
                         Buttons::OkCancel) == Answer::Ok
               ? 0
               : -1;
}

}  // namespace

float SensitivityFactor(int index) {
    if (index < 0 || index >= kOpticalSensitivities) {
        index = kDefaultOpticalSensitivity;
    }
    return kPresets[index].factor;
}

std::string SensitivityText(int index) {
    return index >= 0 && index < kOpticalSensitivities ? kPresets[index].text : "";
}

bool ComputeFieldSignature(const PackedDib& picture, int field, FieldSignature& signature) {
    const uint8_t* bits = picture.Bits();
    if (bits == nullptr || picture.BitCount() != 24) {
        return false;
    }
    // Rows are taken as W x 3 bytes apart. DV widths need no padding, and a stored
    // row is never shorter than that, so every byte read lies inside the picture.
    const size_t width = static_cast<size_t>(picture.Width());
    const size_t rowBytes = width * 3;
    const int w = picture.Width() / kSignatureColumns;
    const int h = picture.Height() / kSignatureRows;
    const int parity = field != 0 ? 1 : 0;
    for (int y = 0; y < kSignatureRows; ++y) {
        const int top = y * h;
        const int end = top + h;
        const int first = (top & 1) == parity ? top : top + 1;
        for (int x = 0; x < kSignatureColumns; ++x) {
            uint32_t blue = 0;
            uint32_t green = 0;
            uint32_t red = 0;
            uint32_t count = 0;
            for (int row = first; row < end; row += 2) {
                const uint8_t* p = bits + static_cast<size_t>(row) * rowBytes +
                                   static_cast<size_t>(x) * static_cast<size_t>(w) * 3;
                for (int i = 0; i < w; ++i, p += 3) {
                    blue += p[0];
                    green += p[1];
                    red += p[2];
                }
                count += static_cast<uint32_t>(w);
            }
            SignatureCell& cell = signature.At(y, x);
            // Too small a picture leaves cells without pixels: 0, not a division by 0.
            cell.blue = count != 0 ? static_cast<int32_t>(blue / count) : 0;
            cell.green = count != 0 ? static_cast<int32_t>(green / count) : 0;
            cell.red = count != 0 ? static_cast<int32_t>(red / count) : 0;
        }
    }
    return true;
}

int CellDistance(const SignatureCell& p, const SignatureCell& q) {
    const auto term = [](int32_t a, int32_t b) {
        const int32_t m = std::max(a, b);
        return std::abs(a - b) * 255 / (m != 0 ? m : 1);
    };
    return (term(p.red, q.red) + term(p.blue, q.blue) + term(p.green, q.green)) / 3;
}

float SignatureDistance(const FieldSignature& a, const FieldSignature& b) {
    float sum = 0.0f;
    for (int x = 0; x < kSignatureColumns; ++x) {
        for (int y = 0; y < kSignatureRows; ++y) {
            const SignatureCell& cell = b.At(y, x);
            int32_t best = -1;
            const int lastColumn = std::min(kSignatureColumns - 1, x + kReach);
            const int lastRow = std::min(kSignatureRows - 1, y + kReach);
            for (int k = std::max(0, x - kReach); k <= lastColumn; ++k) {
                for (int r = std::max(0, y - kReach); r <= lastRow; ++r) {
                    const int32_t d = CellDistance(a.At(r, k), cell);
                    // Accumulates rather than keeping the minimum: the factors
                    // and the floor were tuned to this sum.
                    if (d < best || best == -1) {
                        best += d;
                    }
                }
            }
            // At most 49 x 255 per cell: the square fits in 32 bits.
            sum = sum + static_cast<float>(best * best);
        }
    }
    return std::sqrt(sum);
}

void SignatureCache::Clear() {
    for (FieldSignature& slot : slots_) {
        slot.key = -1;
    }
}

const FieldSignature* SignatureCache::Find(int32_t key) const {
    for (int i = kSlots - 1; i >= 0; --i) {
        if (slots_[static_cast<size_t>(i)].key == key) {
            return &slots_[static_cast<size_t>(i)];
        }
    }
    return nullptr;
}

void SignatureCache::Insert(const FieldSignature& signature) {
    size_t target = 0;
    bool found = false;
    for (size_t i = 0; i < slots_.size(); ++i) {
        if (slots_[i].key == -1) {
            target = i;
            found = true;
            break;
        }
    }
    if (!found) {
        for (size_t i = 1; i < slots_.size(); ++i) {
            if (slots_[i].key < slots_[target].key) {
                target = i;
            }
        }
    }
    slots_[target] = signature;
}

OpticalScanner::OpticalScanner(std::string codecSetting)
    : codecSetting_(std::move(codecSetting)), decoder_(codecSetting_) {}

OpticalScanner::~OpticalScanner() {
    Close();
}

bool OpticalScanner::Open(const std::string& fileName) {
    Close();
    reader_ = OpenAviFile(fileName, &openError_);
    if (!reader_ || reader_->StreamCount() == 0 || (stream_ = reader_->Stream(0)) == nullptr ||
        !decoder_.Attach(fileName, stream_, kCropMargin, 0)) {
        Close();
        return false;
    }
    return true;
}

void OpticalScanner::Close() {
    // The decoder holds the stream, which the reader owns: detach first.
    decoder_.Detach();
    stream_ = nullptr;
    reader_.reset();
    cache_.Clear();
    decodes_ = 0;
}

bool OpticalScanner::GetSignature(int frame, int field, FieldSignature& signature) {
    // Keys are frame x 2 + field in 32 bits.
    if (frame < 0 || frame > INT32_MAX / 2 - 1) {
        return false;
    }
    const int32_t key = SignatureKey(frame, field);
    if (const FieldSignature* cached = cache_.Find(key)) {
        signature = *cached;
        return true;
    }
    if (stream_ == nullptr) {
        return false;
    }
    ++decodes_;
    if (!decoder_.DecodeFrame(frame, picture_) ||
        !ComputeFieldSignature(picture_, key & 1, signature)) {
        return false;
    }
    signature.key = key;
    cache_.Insert(signature);
    // The other field of the same picture, so that one decode serves both.
    FieldSignature& other = scratch_;
    const int32_t otherKey = (key & 1) == 0 ? key + 1 : key - 1;
    if (ComputeFieldSignature(picture_, otherKey & 1, other)) {
        other.key = otherKey;
        cache_.Insert(other);
    }
    return true;
}

bool OpticalScanner::SameScene(int a, int fa, int c, int fc, float factor) {
    // Any field that cannot be had leaves the scene whole: a damaged frame
    // should cost at most a missed cut, never a false one.
    const int otherA = fa != 0 ? 0 : 1;
    if (!GetSignature(a, fa, s1_) || !GetSignature(a, otherA, s2_)) {
        return true;
    }
    const float f = std::max(SignatureDistance(s1_, s2_), kReferenceFloor);
    if (!GetSignature(c, fc, s3_)) {
        return true;
    }
    const float g = SignatureDistance(s1_, s3_);
    if (factor == 0.0f) {
        factor = kDefaultSceneFactor;
    }
    if (g < factor * f) {
        return true;
    }
    if (a <= 0) {
        return false;
    }
    // Compared with the previous picture too: motion makes the two fields of
    // one frame differ as much as neighbouring frames do.
    if (!GetSignature(a - 1, otherA, s2_)) {
        return true;
    }
    const float l = std::max(SignatureDistance(s2_, s1_), kReferenceFloor);
    return factor * l > g;
}

int ScanFileOptical(OpticalScanContext& context, const std::string& fileName, int64_t& framesDone) {
    // The scan object holds some 230 KiB of signatures: on the heap.
    auto scanner = std::make_unique<OpticalScanner>(context.codecSetting);
    if (!scanner->Open(fileName)) {
        const int error = scanner->ReadError();
        scanner.reset();
        return CannotRender(context.questions, fileName, error);
    }
    const int scenesBefore = context.scenes.Count();
    AdoptFramesPerSecond(scanner->FramesPerSecond());
    const int n = scanner->FrameCount();
    const float t = SensitivityFactor(context.sensitivity);
    AviStream* stream = scanner->Stream();
    uint32_t localTick = 0;
    uint32_t& lastPreviewTick = context.lastPreviewTick ? *context.lastPreviewTick : localTick;

    int i = 0;
    bool cancelled = false;
    while (i < n && !cancelled) {
        char status[64];
        std::snprintf(status, sizeof status, "scene #%d; ", context.scenes.Count() + 1);
        context.progress.SetText(status + fileName + " " + FormatFrameTime(i));
        const int b = i;
        int s = kLongestStep;
        for (;;) {
            if (cancelled) {
                break;
            }
            if (context.progress.CancelRequested()) {
                cancelled = true;
            }
            int k = 0;
            // In 64 bits: i + s must not wrap near the largest frame counts.
            while (int64_t{i} + s < n && !cancelled) {
                const uint32_t now = TickCount();
                if (now - lastPreviewTick > kPreviewIntervalMs) {
                    context.progress.SetPosition(static_cast<int>((framesDone + i) / 256), fileName,
                                                 stream, i);
                    lastPreviewTick = now;
                }
                ++k;
                // Five matches in a row: a net tripling after the division below.
                if (k > kMatchesBeforeLonger && s < kLongestStep) {
                    s *= 9;
                    break;
                }
                if (!scanner->SameScene(i, 1, i + s, 0, t)) {
                    break;
                }
                i += s;
            }
            if (s == 1) {
                // One disturbed frame (a dropout, a flash) does not end the scene.
                if (int64_t{i} + 2 < n && scanner->SameScene(i, 1, i + 2, 0, t)) {
                    i += 2;
                    s = 3;
                } else if (i - 1 > b && int64_t{i} + 1 < n &&
                           scanner->SameScene(i - 1, 0, i + 1, 0, t)) {
                    i += 1;
                    s = 3;
                }
            }
            s /= 3;
            if (s < 1) {
                break;
            }
        }
        Scene scene;
        scene.sourceFile = fileName;
        scene.write = 1;  // optical scenes have no datestamp to skip them by
        scene.wholeFile = b == 0 && i + 1 == n ? 1 : 0;
        scene.firstFrame = b;
        scene.frameCount = i - b + 1;
        scene.datestamp = 0;
        context.scenes.Append(scene);
        ++i;
    }
    context.progress.SetPosition(-1, "", nullptr, 0);
    if (context.framesDecoded != nullptr) {
        *context.framesDecoded += scanner->Decodes();
    }
    if (const int error = scanner->ReadError(); error != 0) {
        // A cut missed at a frame that could not be read would join two scenes: the
        // file keeps none, as one that cannot be opened.
        while (context.scenes.Count() > scenesBefore) {
            context.scenes.RemoveAt(context.scenes.Count() - 1);
        }
        scanner.reset();
        return CannotRender(context.questions, fileName, error);
    }
    framesDone += i;
    scanner.reset();
    return cancelled ? -1 : 0;
}

}  // namespace qv
