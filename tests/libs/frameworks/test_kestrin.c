/* SPDX-License-Identifier: GPL-2.0-or-later */
/* A framework named like the AC-3 decoder, for tests that only need it present: the input
 * library probes for it when it lists AC-3 streams. Its decoder is never created here. */
#include <stddef.h>

void* open_AC3in_Audio_stream(void* get_rc, int a, int b) {
  (void)get_rc;
  (void)a;
  (void)b;
  return NULL;
}
