#include "platform/save_at_exit.h"

#include <atomic>
#include <cstdlib>

namespace platform {

struct KeptSave
{
    PreparedSave save;
    bool saved = false;
};

namespace {

// exit() and a signal handler reach nothing but what is global. The kept save is replaced whole
// and published at once, so they see either the old one or the new one, never half of either.
// They may run on another thread while the old one is replaced: once one of them has begun to
// read (g_reading), no record is freed any more, since it may hold any of them. The program is
// ending then anyway.
std::atomic<const KeptSave *> g_kept{nullptr};
std::atomic<bool> g_reading{false};
static_assert(std::atomic<const KeptSave *>::is_always_lock_free &&
              std::atomic<bool>::is_always_lock_free);

// Frees a record that has been replaced, unless a reader may hold it.
void retire(std::unique_ptr<KeptSave> kept)
{
    if (g_reading.load())
        static_cast<void>(kept.release()); // left to the reader
}

// Registered once, when the first object is made: after the application object, so it runs
// before Qt's own static objects are torn down. It needs none of them anyway.
extern "C" void writeKeptAtExit()
{
    SaveAtExit::writeNow();
}

} // namespace

SaveAtExit::SaveAtExit()
{
    static const bool registered = std::atexit(writeKeptAtExit) == 0;
    Q_UNUSED(registered);
}

SaveAtExit::~SaveAtExit()
{
    g_kept.store(nullptr);
    retire(std::move(m_kept));
}

void SaveAtExit::writeNow() noexcept
{
    g_reading.store(true); // before the load: see retire()
    const KeptSave *kept = g_kept.load();
    if (kept && !kept->saved)
        kept->save.write();
}

void SaveAtExit::keep(const QString &path, const QByteArray &bytes)
{
    if (!m_kept || m_kept->save.bytes() != bytes || m_kept->save.path() != path)
        replace(path, bytes, false);
}

void SaveAtExit::markSaved(const QString &path, const QByteArray &bytes)
{
    replace(path, bytes, true);
}

void SaveAtExit::replace(const QString &path, const QByteArray &bytes, bool saved)
{
    // The same file as before: where its links lead is known already.
    PreparedSave save = m_kept && m_kept->save.path() == path ? m_kept->save.withBytes(bytes)
                                                              : PreparedSave(path, bytes);
    auto kept = std::make_unique<KeptSave>(KeptSave{std::move(save), saved});
    g_kept.store(kept.get());
    std::swap(m_kept, kept);
    retire(std::move(kept));
}

} // namespace platform
