#include "foundation/runtime/thread_entry.h"

#include <exception>

#include "foundation/runtime/notify.h"

void ThreadEntry(void* start_record) {
  auto* record = static_cast<ThreadStartRecord*>(start_record);
  try {
    record->function(record->argument);
  } catch (const std::exception& e) {
    Notify(2, "ThreadEntry: thread ended by exception: %s", e.what());
  } catch (const char* text) {
    Notify(2, "ThreadEntry: thread ended by exception: %s", text);
  } catch (...) {
    Notify(2, "ThreadEntry: thread ended by an unknown exception");
  }
}
