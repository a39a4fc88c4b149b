// Small pieces that several camera-path writers share: the moment stamped into a file's
// header, the frame rate as its decimal text names it, the horizontal field of view.
//
// Writers take the time once, when they open their file. Tests fix it so that whole
// files can be compared byte for byte; nothing else sets it.
#pragma once

#include <ctime>

class PerspectiveCamera;

// Now, or the moment fixed by SetCreationTimeForTest.
std::time_t CreationTime();
// Fixes the moment CreationTime returns; 0 returns to the clock. Not thread-safe: for tests.
void SetCreationTimeForTest(std::time_t moment);

// The frame rate a job stores in single precision as the double its decimal text names
// (29.97f gives 29.97, not 29.969999313...), so that times computed from it match the
// rates users type.
double FrameRateFromSingle(float rate);

// The full horizontal angle of view in degrees, 114.59155902616465 x atan(sx x width /
// (2 x focal)) with the width in whole pixels; 180 for a focal length of 0.
double HorizontalFieldOfViewDegrees(const PerspectiveCamera& camera);
