/* Writes the tables of RFC 3454 that the address core uses, as exported by
 * libidn, to text files in the RFC's own line format:
 *
 *   0221              one code point
 *   0234-024F         a range
 *   0041; 0061; Case map         (B.2; B.1 lines have an empty mapping)
 *
 * Run once, through tools/dump_rfc3454.sh; the generator reads the files,
 * never libidn. Usage: dump_rfc3454 OUTPUT_DIR
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <stringprep.h>

struct table {
  const char* name;
  const Stringprep_table_element* elements;
  const char* title;
};

static const struct table kTables[] = {
    {"A.1", stringprep_rfc3454_A_1, "Unassigned code points in Unicode 3.2"},
    {"B.1", stringprep_rfc3454_B_1, "Commonly mapped to nothing"},
    {"B.2", stringprep_rfc3454_B_2, "Mapping for case-folding used with NFKC"},
    {"C.1.1", stringprep_rfc3454_C_1_1, "ASCII space characters"},
    {"C.1.2", stringprep_rfc3454_C_1_2, "Non-ASCII space characters"},
    {"C.2.1", stringprep_rfc3454_C_2_1, "ASCII control characters"},
    {"C.2.2", stringprep_rfc3454_C_2_2, "Non-ASCII control characters"},
    {"C.3", stringprep_rfc3454_C_3, "Private use"},
    {"C.4", stringprep_rfc3454_C_4, "Non-character code points"},
    {"C.5", stringprep_rfc3454_C_5, "Surrogate codes"},
    {"C.6", stringprep_rfc3454_C_6, "Inappropriate for plain text"},
    {"C.7", stringprep_rfc3454_C_7, "Inappropriate for canonical representation"},
    {"C.8", stringprep_rfc3454_C_8, "Change display properties or are deprecated"},
    {"C.9", stringprep_rfc3454_C_9, "Tagging characters"},
};

/* The tables end with an all-zero element; a table may also start with
 * U+0000 alone (C.2.1), whose element is all zero too. */
static int is_end(const Stringprep_table_element* table, const Stringprep_table_element* e) {
  return e != table && e->start == 0 && e->end == 0;
}

static int dump(const char* dir, const struct table* t) {
  char path[4096];
  snprintf(path, sizeof path, "%s/%s.txt", dir, t->name);
  FILE* f = fopen(path, "w");
  if (!f) {
    perror(path);
    return 1;
  }
  fprintf(f, "# RFC 3454 Table %s: %s\n", t->name, t->title);
  char symbol[16];
  snprintf(symbol, sizeof symbol, "%s", t->name);
  for (char* p = symbol; *p; ++p) {
    if (*p == '.') *p = '_';
  }
  fprintf(f, "# Written by tools/dump_rfc3454.sh from libidn %s's stringprep_rfc3454_%s;\n",
          stringprep_check_version(NULL), symbol);
  fprintf(f, "# see README.md for what was checked.\n");
  const int mapping = strcmp(t->name, "B.1") == 0 || strcmp(t->name, "B.2") == 0;
  for (const Stringprep_table_element* e = t->elements; !is_end(t->elements, e); ++e) {
    /* Older releases leave `end` 0 for a single code point. */
    const unsigned long first = e->start;
    const unsigned long last = e->end < e->start ? e->start : e->end;
    if (mapping) {
      if (last != first) {
        fprintf(stderr, "%s: a mapping over a range\n", t->name);
        return 1;
      }
      fprintf(f, "%04lX; ", first);
      for (int k = 0; k < STRINGPREP_MAX_MAP_CHARS && e->map[k] != 0; ++k) {
        fprintf(f, k ? " %04lX" : "%04lX", (unsigned long)e->map[k]);
      }
      fprintf(f, "; %s\n", t->name[2] == '1' ? "Map to nothing" : "Case map");
    } else if (last == first) {
      fprintf(f, "%04lX\n", first);
    } else {
      fprintf(f, "%04lX-%04lX\n", first, last);
    }
    if (e->start == 0 && e->end == 0) break; /* U+0000 alone, first and last */
  }
  return fclose(f) != 0;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
    return 2;
  }
  int failed = 0;
  for (size_t k = 0; k < sizeof kTables / sizeof kTables[0]; ++k) failed |= dump(argv[1], &kTables[k]);
  return failed;
}
