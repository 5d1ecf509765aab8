#pragma once

// Initialises COM as a single-threaded apartment for the calling thread for
// the life of the object. A refusal throws Exception16("CoInitialize");
// S_FALSE (already initialised on this thread) counts as success and is
// balanced like S_OK.
class ComInitializer {
 public:
  ComInitializer();
  ~ComInitializer();

  ComInitializer(const ComInitializer&) = delete;
  ComInitializer& operator=(const ComInitializer&) = delete;
};
