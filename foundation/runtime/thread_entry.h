// The shared start routine of the program's own threads (image-cache prefetch,
// tracking thread, export thread).
//
//   ThreadStartRecord* record = new ThreadStartRecord;
//   record->function = &Body;
//   record->argument = this;
//   record->thread.Start(&ThreadEntry, record, platform::ThreadPriority::kBelowNormal);
//   ...
//   record->thread.Join();
//   delete record;  // the starter owns the record; free it only after joining
#pragma once

#include "platform/thread.h"

struct ThreadStartRecord {
  void (*function)(void* argument) = nullptr;
  void* argument = nullptr;
  platform::Thread thread;  // the thread's handle, started with ThreadEntry
};

// Calls record->function(record->argument) on the new thread. An exception that
// escapes it is logged at level 2 and ends only that thread.
void ThreadEntry(void* start_record);
