#pragma once

#include "job/DownloadJob.h"

#include <QString>

#include <optional>

// What stopped an area recompute, if anything.
enum class AreaMessage {
    None,
    EnterCoordinates,   // "Introduzca coordenadas UTM"
    InvalidCoordinates, // "Introduzca coordenadas UTM válidas"
    XOutOfRange,        // "Coordenadas UTM X fuera de límites"
    YOutOfRange,        // "Coordenadas UTM Y fuera de límites"
};

QString AreaMessageText(AreaMessage message);

// Accepted upper-left corner, both bounds included.
constexpr int32_t kMinEasting = 537000;
constexpr int32_t kMaxEasting = 690000;
constexpr int32_t kMinNorthing = 4640000;
constexpr int32_t kMaxNorthing = 4800000;

// What the recompute reads from the window.
struct AreaInputs {
    QString eastingText;  // the corner fields' digits, without the mask's point
    QString northingText; // leading empty places left out, inner ones as blanks
    int acrossPosition = -1;
    int downPosition = -1;
    int coveragePosition = -1; // the item selected in the coverage list, -1 for none
    QString serverBase;
};

struct AreaResult {
    DownloadJob job;
    AreaMessage message = AreaMessage::None;
    // True when the recompute reached its end and the displays are to show the job.
    bool complete() const { return message == AreaMessage::None; }
};

// The value a corner field gives for a text stored in the settings file: the n-th
// character goes to the n-th of the six digit places, where anything but a digit leaves
// the place empty; a point as the fourth character of a text of more than six is the
// shown point; what is beyond the places is dropped. Read back, empty places at the start are left
// out and any other reads as a blank, as the window's field does.
QString CornerFieldValue(const QString& stored);

// Why a run cannot start on the job's grid, as the message to show; nothing when it has
// 1 to 10 tiles each way. Without a tile there would be an empty image and a calibration
// without scale.
std::optional<QString> GridProblem(const DownloadJob& job);

// Reads a field's text as a signed decimal integer that fits 32 bits. Leading blanks
// are allowed (a masked field leaves out its empty leading places); anything else
// that is not a digit after the optional sign makes the text invalid.
std::optional<int32_t> ParseFieldInteger(const QString& text);

// The area recompute: checks the corner and derives the lower-right corner and the
// sizes. A stopped recompute leaves in the job exactly what was updated before it
// stopped.
AreaResult RecalcArea(const DownloadJob& job, const AreaInputs& in);
