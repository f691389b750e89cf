// Comments blanked as the comment-tolerant parsers blank them.
#ifndef JSONTREE_COMMENTS_H
#define JSONTREE_COMMENTS_H

namespace jsontree::detail {

// Overwrites every comment in `text` with spaces, so that each other byte
// keeps its position.
void blank_comments(char *text);

}  // namespace jsontree::detail

#endif
