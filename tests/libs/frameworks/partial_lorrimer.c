/* SPDX-License-Identifier: GPL-2.0-or-later */
/* A framework named like the MPEG decoder plug-in that offers its video and audio decoders
 * but not the subpicture one: the input library must treat it as absent. Neither is ever
 * called. */
void open_MPEGin_Video_stream_ex(void) {}
void open_MPEGin_Audio_stream_ex(void) {}
