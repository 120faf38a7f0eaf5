/*
 * A trace sink for the CT-API libraries: DebugPrint writes every message as
 * one line to the file named by $K52_TRCHOOK_LOG (appending), or to standard
 * error when that is unset. Install it as libTRCHOOK.so where the libraries
 * look for "TRCHOOK" (see platform/win32/library.h).
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

__attribute__((visibility("default"))) void DebugPrint(const char* text) {
  if (text == NULL) return;
  const char* path = getenv("K52_TRCHOOK_LOG");
  FILE* out = path && *path ? fopen(path, "a") : stderr;
  if (out == NULL) return;
  const size_t len = strlen(text);
  fputs(text, out);
  if (len == 0 || text[len - 1] != '\n') fputc('\n', out);
  if (out != stderr) fclose(out);
}
