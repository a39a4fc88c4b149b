// Process-wide stopwatch for profiling: TakeTimeStart marks the start,
// TakeTime(label) prints the time since that start on the standard output
// with running means. The first TakeTime call only arms the means and prints
// nothing; later calls print
//   "TakeTime: <label>: <ms> ms, mean <ms> ms, (<ticks> cpu cycles, mean <ticks>),
//    fps <Hz> Hz, mean fps <Hz> Hz"
// where the means cover every call but the first. The statics are never
// reset. Meant for one thread at a time.
#pragma once

void TakeTimeStart();
void TakeTime(const char* label);
