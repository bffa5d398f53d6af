#include <kavutil/kavutil.h>
#include <string.h>

int main(void) {
  char text[] = "  in.avi /S5 ";
  if (GetSwitchNum(text, 'S', 0) != 5) return 1;
  Trim(text);
  if (strcmp(text, "in.avi") != 0) return 2;
  void *p = kavmalloc(100);
  if (!p || ((uintptr_t)p & 31u) != 0) return 3;
  kavfree(p);
  return 0;
}
