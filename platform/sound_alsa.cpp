#include "platform/sound.h"
#include "platform/wave.h"

#include <alsa/asoundlib.h>

namespace platform {

namespace {

// ALSA likes to print its complaints to stderr; a missing sound card is not worth a word.
void quietAlsaErrors(const char *, int, const char *, int, const char *, ...) {}

struct PcmHandle
{
    snd_pcm_t *pcm = nullptr;
    ~PcmHandle()
    {
        if (pcm)
            snd_pcm_close(pcm);
    }
};

} // namespace

void AlsaSound::playWave(const QByteArray &riffImage)
{
    const auto wave = parseWave(riffImage);
    if (!wave)
        return;
    snd_lib_error_set_handler(quietAlsaErrors);

    PcmHandle handle;
    if (snd_pcm_open(&handle.pcm, "default", SND_PCM_STREAM_PLAYBACK, 0) < 0)
        return;
    // 8-bit sound is widened to 16-bit: some sound servers click on unsigned 8-bit streams.
    const QByteArray samples =
        wave->bitsPerSample == 8 ? widenUnsigned8(wave->samples) : wave->samples.toByteArray();
    const unsigned latencyMicroseconds = 100000;
    if (snd_pcm_set_params(handle.pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED,
                           unsigned(wave->channels), unsigned(wave->sampleRate), 1,
                           latencyMicroseconds) < 0)
        return;

    const snd_pcm_uframes_t frameBytes = snd_pcm_uframes_t(2 * wave->channels);
    const char *data = samples.constData();
    snd_pcm_uframes_t remaining = snd_pcm_uframes_t(samples.size()) / frameBytes;
    while (remaining > 0) {
        snd_pcm_sframes_t written = snd_pcm_writei(handle.pcm, data, remaining);
        if (written < 0)
            written = snd_pcm_recover(handle.pcm, int(written), 1);
        if (written < 0)
            return;
        data += snd_pcm_uframes_t(written) * frameBytes;
        remaining -= snd_pcm_uframes_t(written);
    }
    // Returns when the last sample has been heard.
    snd_pcm_drain(handle.pcm);
}

} // namespace platform
