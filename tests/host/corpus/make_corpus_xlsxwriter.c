/* Writes the corpus model (model.tsv, made by make_corpus.py) with libxlsxwriter.
 *   make_corpus_xlsxwriter MODEL.tsv OUT.xlsx
 * Lines: "!sheet NAME", "!active NAME", "!name NAME =FORMULA", or
 * "SHEET CELL KIND CONTENT" with KIND n (number), s (text), b (boolean), f (formula),
 * a (array formula over the one cell); fields separated by tabs. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <xlsxwriter.h>

#define MAX_SHEETS 8

static lxw_worksheet *sheets[MAX_SHEETS];
static char names[MAX_SHEETS][64];
static int sheet_count;

static lxw_worksheet *find(const char *name) {
    for (int i = 0; i < sheet_count; ++i)
        if (strcmp(names[i], name) == 0) return sheets[i];
    fprintf(stderr, "unknown sheet %s\n", name);
    exit(1);
}

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s MODEL.tsv OUT.xlsx\n", argv[0]);
        return 2;
    }
    FILE *in = fopen(argv[1], "r");
    if (!in) {
        perror(argv[1]);
        return 1;
    }
    lxw_workbook *book = workbook_new(argv[2]);
    char line[1024], active[64] = "";
    while (fgets(line, sizeof line, in)) {
        line[strcspn(line, "\n")] = 0;
        char *fields[4] = {0};
        int n = 0;
        for (char *p = strtok(line, "\t"); p && n < 4; p = strtok(NULL, "\t")) fields[n++] = p;
        if (n >= 2 && strcmp(fields[0], "!sheet") == 0) {
            if (sheet_count == MAX_SHEETS) return 1;
            snprintf(names[sheet_count], sizeof names[0], "%s", fields[1]);
            sheets[sheet_count] = workbook_add_worksheet(book, fields[1]);
            ++sheet_count;
        } else if (n >= 2 && strcmp(fields[0], "!active") == 0) {
            snprintf(active, sizeof active, "%s", fields[1]);
        } else if (n >= 3 && strcmp(fields[0], "!name") == 0) {
            workbook_define_name(book, fields[1], fields[2]);
        } else if (n == 4) {
            lxw_worksheet *ws = find(fields[0]);
            lxw_row_t row;
            lxw_col_t col;
            row = lxw_name_to_row(fields[1]);
            col = lxw_name_to_col(fields[1]);
            switch (fields[2][0]) {
            case 'n': worksheet_write_number(ws, row, col, strtod(fields[3], NULL), NULL); break;
            case 's': worksheet_write_string(ws, row, col, fields[3], NULL); break;
            case 'b': worksheet_write_boolean(ws, row, col, atoi(fields[3]), NULL); break;
            case 'f': worksheet_write_formula(ws, row, col, fields[3], NULL); break;
            case 'a': worksheet_write_array_formula(ws, row, col, row, col, fields[3], NULL); break;
            default: fprintf(stderr, "bad kind %s\n", fields[2]); return 1;
            }
        }
    }
    fclose(in);
    if (active[0]) worksheet_activate(find(active));
    return workbook_close(book) == LXW_NO_ERROR ? 0 : 1;
}
