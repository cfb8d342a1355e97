// SPDX-License-Identifier: GPL-2.0-or-later
// Disc spanning: a data layout larger than one disc spread over several. A run is
// dspn_Start, any number of dspn_Estimate calls, then dspn_NextTree for disc 1, 2, ... until
// it answers null, and dspn_Stop. Between the calls the source tree remembers in its nodes
// what has been placed, so it must not change during a run. Sizes are in 2048-byte blocks;
// `fsFlags` is the data-disc format code of the burn job.
#pragma once

#include <cstdint>

class FS_Tree;
class FS_List;

// Forgets every placement of an earlier run and brings the tree's size totals up to date.
void dspn_Start(FS_Tree* tree);

// How many discs the tree needs, packed first fit in title order; packages and files are
// never split. When `tooBig` is given it receives a new list (null for an empty tree) of the
// tree's own nodes that fit no disc at all: empty it with ClearList(list, false), then
// termList. 0 for an empty tree.
std::uint32_t dspn_Estimate(FS_Tree* tree, std::uint32_t capacity, std::uint32_t fsFlags,
                            FS_List** tooBig);

// A new tree (the caller's) holding copies of what goes on disc `discID`, each hung under
// copies of its folders; null when nothing more fits or nothing is left. The outputs (each
// may be null) report the files and packages that did not fit this disc: their number, the
// sum of their sizes and the largest size.
FS_Tree* dspn_NextTree(FS_Tree* tree, std::uint32_t discID, std::uint32_t fsFlags,
                       std::uint32_t capacity, std::uint32_t* remainingFiles,
                       std::uint32_t* remainingBlocks, std::uint32_t* biggestBlocks);

void dspn_Stop();
