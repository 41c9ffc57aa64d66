// Cell comments of .xlsx worksheets: the notes of a sheet read from its comments part, its VML
// drawing and its threaded comments, and the parts written back when the notes changed. It
// stands in for Excel's handling of Range.Comment / Range.AddComment / Comment.Text in files.
// Left out: a note's formatting beyond what its raw XML keeps (a changed note is written as
// plain text), the shape of a note box beyond Excel's default, creating threaded comments (new
// comments are notes), and the replies of a thread (kept in the threaded part as read).
//
//   CommentsResult read = ReadComments(book, 0);
//   if (read.error) { std::cerr << read.error->ToString() << '\n'; return; }
//   for (const CellComment& c : read.comments) ... c.row, c.col, c.text
//   // after edits (clear raw_note of a changed note, raw_shape of a moved one):
//   std::string comments_xml = WriteCommentsPart(read.comments);
//   WriteResult vml = WriteVmlDrawing(read.comments, old_vml_bytes);
//
// Notes that were not edited are written back from their raw XML, byte for byte; the parts'
// other content (form controls in the VML, replies of threads) passes through unchanged.
// Threads: every function here is reentrant; the Workbook is only read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/xlsx/package.h"
#include "platform/xlsx/workbook.h"

namespace sheetwise::xlsx {

/// One cell's comment.
struct CellComment {
  std::uint32_t row = 0;  ///< 1-based
  std::uint32_t col = 0;  ///< 1-based
  /// Plain text, UTF-8: rich runs joined, _xHHHH_ escapes decoded (what Comment.Text returns).
  /// A cell with a threaded comment: the text of the thread's first comment, not the legacy
  /// "[Threaded comment] Your version of Excel ..." note Excel writes beside it.
  std::string text;
  /// The note's author (authors table); threaded: the person's displayName, empty if unknown.
  std::string author;
  bool threaded = false;
  /// Threaded: the id of the thread's first comment ("{7A82DA9E-...}"); the legacy note written
  /// for a changed thread names it ("tc={...}") as Excel does. Empty for notes.
  std::string thread_id;
  /// The note's <comment> element exactly as in the comments part; empty for new or changed
  /// comments (the writer then generates it), and for a note whose XML uses namespace prefixes
  /// that would not survive the move into a new part (it is then regenerated as plain text).
  std::string raw_note;
  /// The note's <v:shape> element exactly as in the VML part; empty if none, new, or (as for
  /// raw_note) using other prefixes than v, o and x bound to their VML namespaces. Clear it
  /// when the comment moves to another cell.
  std::string raw_shape;
};

/// Part names of a sheet's comment parts and the relationship ids that name them (in the
/// sheet's .rels); each empty when the sheet has none.
struct SheetCommentParts {
  std::string comments;  ///< "xl/comments1.xml"
  /// The sheet's legacy drawing (the VML part of its notes and form controls), even when the
  /// sheet has no notes; a header/footer picture VML (legacyDrawingHF) is not reported.
  std::string vml;
  std::string threaded;  ///< "xl/threadedComments/threadedComment1.xml"
  std::string comments_rel_id, vml_rel_id, threaded_rel_id;
};

struct [[nodiscard]] CommentsResult {
  std::vector<CellComment> comments;  ///< sorted by row, then column; one per cell
  SheetCommentParts parts;
  /// A malformed part, a bad ref, an authorId out of range, two notes on one cell, a part named
  /// by a relationship but missing ...: names the file and part (offset where known); the
  /// comments are then empty.
  std::optional<Error> error;
};

/// Whether ReadComments reads the notes' VML shapes (raw_shape). They matter only to a writer
/// of the notes, and the VML part is the largest of a sheet with many notes: a reader that
/// will not write them back skips it, and reads the shapes later if it must.
enum class NoteShapes { kRead, kSkip };

/// Reads the comments of sheet `sheet_index` (0-based index into book.sheets(), a worksheet):
/// the parts its relationships name (comments, vmlDrawing, threadedComment; transitional and
/// strict URIs) and the workbook's persons part. VML shapes are matched to notes by
/// x:Row/x:Column (the comments part's ref is the key); shapes without them are paired with the
/// remaining notes in file order. A sheet without comments gives an empty list and no error.
/// With NoteShapes::kSkip the VML part is located (parts.vml) but not read: raw_shape stays
/// empty and a malformed VML part is not noticed. Any thread may call, also for several sheets
/// of one workbook at once.
CommentsResult ReadComments(const Workbook& book, std::size_t sheet_index,
                            NoteShapes shapes = NoteShapes::kRead);
/// The same for a worksheet of a package whose workbook part was read before: `sheet` as the
/// workbook listed it.
CommentsResult ReadComments(const Package& pkg, std::string_view workbook_part,
                            const SheetInfo& sheet, NoteShapes shapes = NoteShapes::kRead);

/// A comments part for `comments` (any order in, written sorted by row/col; when two share a
/// cell the later one wins). The authors table is built from the authors, first seen first in
/// the written order. A note is written from raw_note when set (its ref and authorId values
/// rewritten to match the comment and the new table, all else byte for byte), else generated:
/// <comment ref="B3" authorId="0"><text><t xml:space="preserve">...</t></text></comment>, text
/// escaped (& < > " as entities, characters XML 1.0 does not allow and carriage returns as
/// _xHHHH_ as Excel does, "_xHHHH_" in the text protected as "_x005F_xHHHH_", invalid UTF-8 as
/// U+FFFD), line feeds kept. A changed threaded comment (thread_id set) gets Excel's legacy
/// note: author "tc=<thread_id>", the English "[Threaded comment]" notice, then the text.
std::string WriteCommentsPart(std::span<const CellComment> comments);

/// What a writer that edits an existing part returns.
struct [[nodiscard]] WriteResult {
  std::string bytes;  ///< the new part, UTF-8 (an existing part in UTF-16 is converted)
  /// `existing` is not well-formed XML, so its content cannot be kept: the message and the
  /// offset in `existing` (none for a part that is not UTF-8); file and part are left for the
  /// caller to fill in. bytes are then empty.
  std::optional<Error> error;
};

/// A VML drawing for the notes of `comments`. `existing` is the sheet's current legacy drawing
/// (empty when none): its root element, its shapes that are not notes (form controls, other
/// ObjectTypes) and its other elements (shapelayout, shapetypes) are kept byte for byte, except
/// that the o:idmap data is extended when the shape ids use a 1024-block it does not list.
/// A note of `existing` whose bytes are the raw_shape of the comment on its cell stays where it
/// is (unchanged notes give back `existing` byte for byte); its other notes are dropped, and
/// the remaining notes of `comments` are written after its last note (sorted by row/col): from
/// raw_shape when set and naming the comment's cell, else generated as Excel does (a hidden box
/// anchored right of the cell, x:Row/x:Column 0-based, _x0000_s ids unique in the drawing,
/// taken from the blocks listed first, then from the next free blocks). `id_block` is the first
/// block of a new drawing (Excel gives sheet N block N); unused when `existing` lists blocks.
/// Comments outside the grid are left out.
WriteResult WriteVmlDrawing(std::span<const CellComment> comments, std::string_view existing,
                            std::uint32_t id_block = 1);

/// The threaded comments part `existing` with, for every comment of `comments` that is threaded
/// and has no raw_note (its text changed), the text of its thread's first comment replaced (and
/// that comment's mentions dropped, as their offsets no longer fit); threads on cells that have
/// no threaded comment in `comments` are removed with their replies. All else byte for byte.
WriteResult UpdateThreadedComments(std::string_view existing,
                                   std::span<const CellComment> comments);

}  // namespace sheetwise::xlsx
