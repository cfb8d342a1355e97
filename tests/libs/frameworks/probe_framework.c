/* SPDX-License-Identifier: GPL-2.0-or-later */
/* A framework the loader tests load: it answers which build it is. */
__attribute__((visibility("default"))) int probe_identity(void) {
  return PROBE_IDENTITY;
}
