// A scratch folder per test, named both ways: the system's name and the program's cp1251 name.
#pragma once
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

class TScratchFolder {
 public:
  TScratchFolder() {
    char pattern[] = "/tmp/velmora-platform-XXXXXX";
    system = mkdtemp(pattern) ? pattern : "";
    narrow = system;
    for (char& c : narrow)
      if (c == '/') c = '\\';
    narrow += "\\";
  }
  ~TScratchFolder() {
    if (!system.empty()) std::system(("chmod -R u+w '" + system + "' 2>/dev/null; rm -rf '" + system + "'").c_str());
  }
  std::string system;  // /tmp/velmora-platform-XXXXXX
  std::string narrow;  // \tmp\velmora-platform-XXXXXX\ (ends in a backslash)
};
