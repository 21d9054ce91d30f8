// The first Windows program the tests start: exits with its own pointer width in bits (32 or
// 64), so the check that runs it knows Wine started the build's kind of program.
int main() { return static_cast<int>(8 * sizeof(void*)); }
