#include "pictures/worker/worker_main.h"

int main(int argc, char *argv[])
{
    return pictures::worker::workerMain(argc, argv);
}
