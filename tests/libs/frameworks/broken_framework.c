/* SPDX-License-Identifier: GPL-2.0-or-later */
/* A framework that cannot load: it needs a function nothing provides. */
int quillion_function_nobody_provides(void);
__attribute__((visibility("default"))) int probe_identity(void) {
  return quillion_function_nobody_provides();
}
