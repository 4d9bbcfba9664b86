#pragma once

#include <QByteArrayView>
#include <memory>

// EMF+ records, which GDI+ writes into EMF comments: played for pictures that hold no GDI
// drawing of their own (a "dual" file carries both and plays its GDI records).
namespace metafile::detail {

class Canvas;

inline constexpr quint32 kEmfPlusCommentId = 0x2B464D45; // "EMF+"

// What a scan of an EMF's EMF+ comments tells about the file.
struct EmfPlusTraits
{
    bool present = false; // some EMF+ record
    bool dual = false;    // the EMF+ header says the GDI records draw the picture as well
};

// Notes the EMF+ header, if `comment` (an EMR_COMMENT's data after its size) holds one.
void scanEmfPlus(QByteArrayView comment, EmfPlusTraits &traits);

class EmfPlusPlayer
{
public:
    explicit EmfPlusPlayer(Canvas &canvas);
    ~EmfPlusPlayer();
    EmfPlusPlayer(const EmfPlusPlayer &) = delete;
    EmfPlusPlayer &operator=(const EmfPlusPlayer &) = delete;

    // Plays the EMF+ records of one comment. Broken records are passed over.
    void playComment(QByteArrayView comment);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace metafile::detail
