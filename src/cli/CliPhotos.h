#pragma once

#include "CliCommon.h"

// quenlor-cli photos: the device's photo sources, formats, albums and camera roll.
int RunPhotos(const TCliOptions& options);

// quenlor-cli copy-photos --to DIR [--album NAME] [--camera]: exports the photos (all,
// or one album's) as the photo window does, and with --camera the camera roll too.
int RunCopyPhotos(const TCliOptions& options);
