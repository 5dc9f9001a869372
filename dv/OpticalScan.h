#pragma once
// Splitting input files into scenes by what their pictures show, for video
// without a usable datestamp. Each field of a decoded frame is reduced to a
// coarse grid of colour averages (a signature); a new scene starts where a later
// picture differs from the current one clearly more than the current picture's
// two fields differ from each other. Frames are probed with steps of up to 27,
// so only the neighbourhood of a cut is decoded frame by frame.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/SceneList.h"
#include "avi/AviReader.h"
#include "dv/PackedDib.h"
#include "dv/PictureDecoder.h"

namespace qv {

class Progress;
class Questions;

// Shown with OK and Cancel before an optical scan; only OK scans.
inline constexpr char kOpticalScanWarning[] =
    "Please Note: 'optical' scene-scans do not have the high precision of datestamp-scans.\n"
    "\n"
    "It might work very well with some video and not work at all with other video.\n"
    "While datestamp-scans identify all cuts in your video, optical-recognition only gives an "
    "overview of the cuts.\n"
    "If your source-material contains the DV-datestamp, use datestamp-recognition!\n";

// The five sensitivity presets of the options dialog, most sensitive first.
constexpr int kOpticalSensitivities = 5;
// The preset used for a setting outside 0..4 (the dialog stores -1 when nothing
// is selected).
constexpr int kDefaultOpticalSensitivity = 2;  // "medium"
// How much a picture may differ from the reference before it counts as a cut.
// An index outside 0..4 gets "medium".
float SensitivityFactor(int index);
// The combo box text of a preset; empty outside 0..4.
std::string SensitivityText(int index);

// Distances below this are raised to it: between the two fields of a still or
// flat picture the distance may be near 0, and any noise would then be a cut.
constexpr float kReferenceFloor = 3000.0f;
// SameScene's factor when its caller passes 0.
constexpr float kDefaultSceneFactor = 1.09f;

constexpr int kSignatureColumns = 20;
constexpr int kSignatureRows = 15;
constexpr int kSignatureCells = kSignatureColumns * kSignatureRows;

// Channel averages 0..255, signed so that differences need no casts.
struct SignatureCell {
    int32_t blue = 0;
    int32_t green = 0;
    int32_t red = 0;
    friend bool operator==(const SignatureCell&, const SignatureCell&) = default;
};

struct FieldSignature {
    std::array<SignatureCell, kSignatureCells> cells{};  // index = row x 20 + column
    int32_t key = -1;                                    // frame x 2 + field; -1 = none

    SignatureCell& At(int row, int column) {
        return cells[static_cast<size_t>(row * kSignatureColumns + column)];
    }
    const SignatureCell& At(int row, int column) const {
        return cells[static_cast<size_t>(row * kSignatureColumns + column)];
    }
};

inline int32_t SignatureKey(int frame, int field) {
    return frame * 2 + (field != 0 ? 1 : 0);
}

// The grid of one field (0: even stored rows, 1: odd) of a 24-bit bottom-up
// picture, rows counted from the first stored row. The key is left as it was.
// False, with the cells left as they were, for a picture that is not 24-bit or
// does not hold its rows. A picture narrower than 20 or lower than 30 lines gives
// cells of 0.
bool ComputeFieldSignature(const PackedDib& picture, int field, FieldSignature& signature);

// The distance of two cells, 0..255: the mean over the channels of the
// difference relative to the larger value.
int CellDistance(const SignatureCell& p, const SignatureCell& q);

// How far B is from A, tolerating movement of up to three cells: for each cell of
// B the distances to A's cells around it are accumulated, smallest-first in effect
// (a distance is added while it is below the sum so far), and the root of the
// summed squares is returned. The sensitivity factors and the floor are tuned to
// this measure.
float SignatureDistance(const FieldSignature& a, const FieldSignature& b);

// The signatures of recently decoded fields. SameScene looks at frames a - 1, a
// and c, and the probes move forward, so 64 fields keep each frame decoded about
// once.
class SignatureCache {
  public:
    static constexpr int kSlots = 64;

    SignatureCache() : slots_(kSlots) {}  // about 225 KiB: on the heap

    // Empties every slot (key -1).
    void Clear();
    // The newest slot holding key, searched from the last slot down; null when none.
    const FieldSignature* Find(int32_t key) const;
    // Into the first empty slot; when none is empty, over the slot with the
    // smallest key (the first of equal ones): the fields furthest behind the scan.
    void Insert(const FieldSignature& signature);
    const FieldSignature& Slot(int index) const { return slots_.at(static_cast<size_t>(index)); }

  private:
    std::vector<FieldSignature> slots_;
};

// The scan of one file: its own reader, decoder and signature cache, so that the
// main window's reader and preview decoder are left alone.
class OpticalScanner {
  public:
    explicit OpticalScanner(std::string codecSetting = {});
    ~OpticalScanner();
    OpticalScanner(const OpticalScanner&) = delete;
    OpticalScanner& operator=(const OpticalScanner&) = delete;

    // Opens fileName and a decoder for its stream 0 (crop margin 10); false, with
    // nothing open, when the file cannot be opened, has no streams or no decoder
    // takes stream 0.
    bool Open(const std::string& fileName);
    // Releases the decoder, the reader and the cached signatures.
    void Close();

    int FrameCount() const { return reader_ ? reader_->FrameCount() : 0; }
    // The system's error of the first read of the file that failed (or of its open), or 0.
    int ReadError() const { return reader_ ? reader_->ReadError() : openError_; }
    double FramesPerSecond() const { return reader_ ? reader_->FramesPerSecond() : 0.0; }
    AviStream* Stream() const { return stream_; }

    // The signature of field (0 or 1) of frame. One decode yields both fields of
    // the frame, and both are cached. False when the frame cannot be read, is
    // shorter than a DV frame or does not decode.
    bool GetSignature(int frame, int field, FieldSignature& signature);

    // Whether field fc of frame c still belongs to the scene of field fa of frame
    // a. factor 0 stands for kDefaultSceneFactor. A field whose signature cannot be
    // obtained answers true: an unreadable frame never splits a scene.
    bool SameScene(int a, int fa, int c, int fc, float factor);

    // Frames decoded since Open, failed decodes included.
    int64_t Decodes() const { return decodes_; }

  private:
    std::string codecSetting_;
    std::unique_ptr<AviReader> reader_;
    int openError_ = 0;
    AviStream* stream_ = nullptr;
    PictureDecoder decoder_;
    SignatureCache cache_;
    PackedDib picture_;  // reused for every frame
    // Working signatures, kept here rather than on the stack of every call.
    FieldSignature scratch_;
    FieldSignature s1_;
    FieldSignature s2_;
    FieldSignature s3_;
    int64_t decodes_ = 0;
};

// Everything the optical scan of one file works with; owned by the caller.
struct OpticalScanContext {
    SceneList& scenes;  // scenes are appended
    Questions& questions;
    Progress& progress;
    int sensitivity = kDefaultOpticalSensitivity;  // the preset index (optSensitivity)
    std::string codecSetting;                      // the decoder to prefer ("Codec")
    // Tick of the last preview, kept across files and scans; separate from the
    // datestamp scan's.
    uint32_t* lastPreviewTick = nullptr;
    // Frames decoded are added here when set.
    int64_t* framesDecoded = nullptr;
};

// Appends the scenes of fileName; framesDone grows by the frames covered.
// 0: go on with the next file; -1: stop the scan (cancelled, or the user chose
// Cancel on a file that cannot be read or rendered).
int ScanFileOptical(OpticalScanContext& context, const std::string& fileName, int64_t& framesDone);

}  // namespace qv
