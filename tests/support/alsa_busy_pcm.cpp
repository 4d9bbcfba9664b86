// An ALSA device that another program holds, as a PCM plugin for ALSA's configuration: opened
// with SND_PCM_NONBLOCK it is busy at once; a blocking open would wait until the other program
// lets go, which here leaves a note in the file named by RORUMO_BUSY_NOTE and gives up.

#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

extern "C" {

SND_PCM_PLUGIN_DEFINE_FUNC(rorumo_busy)
{
    (void)pcmp, (void)name, (void)root, (void)conf, (void)stream;
    if (!(mode & SND_PCM_NONBLOCK)) {
        if (const char *note = std::getenv("RORUMO_BUSY_NOTE")) {
            if (FILE *file = std::fopen(note, "w"))
                std::fclose(file);
        }
    }
    return -EBUSY;
}
SND_PCM_PLUGIN_SYMBOL(rorumo_busy)
}
