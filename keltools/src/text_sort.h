// The text-file sort's shared pieces: one sort's settings and chunk files,
// and the merging of chunk files (text_chunks.cpp).  Included only by
// text_sort.cpp and text_chunks.cpp.
#pragma once

#include "sort_internal.h"

#include <stdio.h>
#include <sys/stat.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

namespace keltools_internal {

// One external sort's names, settings and temporary files.
struct TextSort {
    const char *fn1, *fn2, *temp_path;
    int (*compare)(const void *, const void *);
    int msize;
    unsigned pid;
    bool byte_order;    // compare is cmp_str: lines are sorted and merged by their bytes
    bool in_place;       // fn2 is the input itself
    mode_t output_mode;  // permissions for an output that replaces fn2
    std::string target;  // the file an output replaces: fn2, a link to it followed
    bool fn2_exists;
    struct stat fn2_stat;  // fn2 as it was, a link to it followed
    unsigned next_number = 0;
    std::vector<unsigned> on_disk;  // numbers of the chunk files that exist
    std::mutex chunk_files;         // guards the two above while chunks are cut on two threads

    std::string chunk_name(unsigned number) const
    {
        return format_name("%s/sortfile.%u.%u", temp_path, pid, number);
    }

    void forget(unsigned number) { on_disk.erase(std::find(on_disk.begin(), on_disk.end(), number)); }

    // After a failure: no chunk file outlives the sort.
    void remove_all_chunks()
    {
        for (unsigned number : on_disk) unlink(chunk_name(number).c_str());
        on_disk.clear();
    }
};

// Creates the next chunk file for writing; NULL after a warning.
FILE *create_chunk(TextSort &ts, unsigned *number, std::string *name);

// Closes a stream; -1 after the warning "<what> <name> (<reason>)".
int close_or_warn(FILE *f, const char *what, const char *name);

/*
 * Merges the chunk files listed into out, which writes to the file at path,
 * and removes them; -1 after a warning, which names the output out_name.
 * Under the byte order, with two processors, a merge into a regular file is
 * divided between two threads.
 */
int merge_chunks(TextSort &ts, const std::vector<unsigned> &numbers, FILE *out, const char *path,
                 const char *out_name);

// One pass over the chunk files in *order, merging groups of up to fan_in
// of them so that fan_in files are left for the final merge; -1 after a
// warning.
int merge_pass(TextSort &ts, std::vector<unsigned> *order, size_t fan_in);

}  // namespace keltools_internal
