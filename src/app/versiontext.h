#pragma once
// The product version from the program's own version resource, "Ver.:%s",
// read once per process (empty while it cannot be read).
const char* getVersionText();
