// The smallest library the loader tests can find and call into.
extern "C" __attribute__((visibility("default"))) int DebugPrint(const char* text) {
  int length = 0;
  while (text[length] != '\0') ++length;
  return length;
}
