#include "platform/alsa/alsa_sound.h"

#include "platform/sound.h"
#include "platform/wave.h"

#include <QLibrary>
#include <alsa/asoundlib.h>

namespace platform {

// The few ALSA functions a door sound needs. The library is opened at the first sound rather
// than linked: most runs never sound a door, and loading it costs start-up time and memory.
struct AlsaSound::Library
{
    decltype(&snd_lib_error_set_handler) setErrorHandler = nullptr;
    decltype(&snd_pcm_open) open = nullptr;
    decltype(&snd_pcm_nonblock) nonblock = nullptr;
    decltype(&snd_pcm_set_params) setParams = nullptr;
    decltype(&snd_pcm_writei) writei = nullptr;
    decltype(&snd_pcm_recover) recover = nullptr;
    decltype(&snd_pcm_drain) drain = nullptr;
    decltype(&snd_pcm_close) close = nullptr;

    bool load()
    {
        QLibrary library(QStringLiteral("asound"), 2);
        const auto resolve = [&library](auto &function, const char *name) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(
                library.resolve(name));
            return function != nullptr;
        };
        // QLibrary keeps the library loaded after it goes out of scope.
        return resolve(setErrorHandler, "snd_lib_error_set_handler") &&
               resolve(open, "snd_pcm_open") && resolve(nonblock, "snd_pcm_nonblock") &&
               resolve(setParams, "snd_pcm_set_params") && resolve(writei, "snd_pcm_writei") &&
               resolve(recover, "snd_pcm_recover") && resolve(drain, "snd_pcm_drain") &&
               resolve(close, "snd_pcm_close");
    }
};

namespace {

// ALSA likes to print its complaints to stderr; a missing sound card is not worth a word.
void quietAlsaErrors(const char *, int, const char *, int, const char *, ...) {}

struct PcmHandle
{
    const AlsaSound::Library &alsa;
    snd_pcm_t *pcm = nullptr;
    ~PcmHandle()
    {
        if (pcm)
            alsa.close(pcm);
    }
};

} // namespace

AlsaSound::AlsaSound() = default;
AlsaSound::~AlsaSound() = default;

const AlsaSound::Library *AlsaSound::library()
{
    if (!m_libraryTried) {
        m_libraryTried = true;
        auto library = std::make_unique<Library>();
        if (library->load()) {
            library->setErrorHandler(quietAlsaErrors);
            m_library = std::move(library);
        }
    }
    return m_library.get();
}

void AlsaSound::playWave(const QByteArray &riffImage)
{
    const auto wave = parseWave(riffImage);
    if (!wave)
        return;
    // Without ALSA installed the program is silent, as without a sound card.
    const Library *alsa = library();
    if (!alsa)
        return;

    PcmHandle handle{*alsa};
    // A device that another program holds would make a blocking open wait until it is free,
    // with the door and the whole program standing still; busy means silence instead. Once
    // open, the writes block again so that the sound plays out at its own pace.
    if (alsa->open(&handle.pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0 ||
        alsa->nonblock(handle.pcm, 0) < 0)
        return;
    // 8-bit sound is widened to 16-bit: some sound servers click on unsigned 8-bit streams.
    const QByteArray samples =
        wave->bitsPerSample == 8 ? widenUnsigned8(wave->samples) : wave->samples.toByteArray();
    const unsigned latencyMicroseconds = 100000;
    if (alsa->setParams(handle.pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED,
                        unsigned(wave->channels), unsigned(wave->sampleRate), 1,
                        latencyMicroseconds) < 0)
        return;

    const snd_pcm_uframes_t frameBytes = snd_pcm_uframes_t(2 * wave->channels);
    const char *data = samples.constData();
    snd_pcm_uframes_t remaining = snd_pcm_uframes_t(samples.size()) / frameBytes;
    while (remaining > 0) {
        snd_pcm_sframes_t written = alsa->writei(handle.pcm, data, remaining);
        if (written < 0)
            written = alsa->recover(handle.pcm, int(written), 1);
        if (written < 0)
            return;
        data += snd_pcm_uframes_t(written) * frameBytes;
        remaining -= snd_pcm_uframes_t(written);
    }
    // Returns when the last sample has been heard.
    alsa->drain(handle.pcm);
}

std::unique_ptr<SoundOutput> makeSystemSound()
{
    return std::make_unique<AlsaSound>();
}

} // namespace platform
