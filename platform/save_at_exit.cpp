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
std::atomic<const KeptSave *> g_kept{nullptr};
static_assert(std::atomic<const KeptSave *>::is_always_lock_free);

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
}

void SaveAtExit::writeNow() noexcept
{
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
    auto kept = std::make_unique<KeptSave>(
        KeptSave{m_kept && m_kept->save.path() == path ? m_kept->save.withBytes(bytes)
                                                       : PreparedSave(path, bytes),
                 saved});
    g_kept.store(kept.get());
    m_kept = std::move(kept); // the old one goes only once nobody can reach it
}

} // namespace platform
