/* SPDX-License-Identifier: GPL-2.0-or-later */
/* A framework named like the demultiplexer that offers all of its functions but one
 * (mpegDemuxSetFirstSplitRead): the input library must treat it as absent. None of these
 * is ever called. */
void mpegDemuxNew(void) {}
void mpegDemuxFree(void) {}
void mpegDemuxOpen(void) {}
void mpegDemuxOpenW(void) {}
void mpegDemuxClose(void) {}
void mpegDemuxGetFileInfo(void) {}
void mpegDemuxGetProgramInfo(void) {}
void mpegDemuxGetStreamInfo(void) {}
void mpegDemuxNewParser(void) {}
void mpegDemuxFreeParser(void) {}
void mpegDemuxAddStream(void) {}
void mpegDemuxRemoveStream(void) {}
void mpegDemuxSeek(void) {}
void mpegDemuxPush(void) {}
void mpegDemuxWakeParser(void) {}
void mpegDemuxSleepParser(void) {}
void mpegDemuxUpdateFilesize(void) {}
