/* A small host of the installed library: calls that need no agent, and a
 * value call that fails because none answers. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <qorapi.h>

int main(void) {
  char *text = QOR_EncodeKeyVersion(1);
  if (text == NULL || strcmp(text, "AAH+") != 0) {
    fprintf(stderr, "QOR_EncodeKeyVersion(1): %s\n", text != NULL ? text : "(null)");
    return 1;
  }
  if (QOR_GetKeyVersion(text) != 1) {
    fprintf(stderr, "QOR_GetKeyVersion(%s) is not 1\n", text);
    return 1;
  }
  free(text);
  char version[13];
  if (QOR_GetVersionEx(version) != 0 || strcmp(version, "3.7.3RN20267") != 0) {
    fprintf(stderr, "QOR_GetVersionEx: %s\n", version);
    return 1;
  }
  if (QOR_IsInit() != 1) {
    fprintf(stderr, "initialised before any call\n");
    return 1;
  }
  /* Room after the value: encryption pads in place. */
  unsigned char value[64] = "value";
  DataBuffer result = QOR_EncryptExUdf("ARIA_256", value, 5, NULL, NULL, NULL, 0);
  free(result.data);
  if (result.length != -1) {
    fprintf(stderr, "encryption without an agent gave %d\n", result.length);
    return 1;
  }
  printf("host ok: error %d\n", QOR_GetLastErrorCode());
  return 0;
}
