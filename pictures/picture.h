#pragma once

#include "metafile/metafile.h"

// A picture as the controls hold it: the decoded image and its natural size in twips, whether it
// came from a bitmap or a metafile. The empty picture has no image and no size.
using Picture = metafile::Picture;
