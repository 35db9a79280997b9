// textblock.cpp — a bounded list of paragraphs, each broken into lines no
// wider than the wrap width. Lines break at the first character that would
// not fit, words or not: the texts shown are short and often not prose.
#include <algorithm>
#include <cstring>

#include "ui/ui.h"

namespace {

void freeLines(ZvTextParagraph* p) {
  for (ZvTextLine* line = p->lines; line;) {
    ZvTextLine* next = line->next;
    zvFree(line);
    line = next;
  }
  p->lines = nullptr;
  p->lineCount = 0;
  p->height = 0;
  p->widest = 0;
  p->position = 0;
}

// Measures one line from the paragraph's layout position on. The tab is
// stored as a blank so that drawing needs no rule of its own.
void measureLine(const ZvTextBlock* block, ZvTextParagraph* p, ZvTextLine* line) {
  char* text = p->text;
  int pos = p->position, end = p->length;
  line->start = pos;
  int width = 0;
  while (pos < end) {
    char c = text[pos];
    if (c == '\r' || c == '\n') {
      // A CR LF pair is one line end, as the Windows texts mean it.
      pos += (c == '\r' && pos + 1 < end && text[pos + 1] == '\n') ? 2 : 1;
      line->consumed = pos - line->start;
      line->width = width;
      return;
    }
    if (block->escapes && c == '\\' && pos + 1 < end && text[pos + 1] == 'n') {
      pos += 2;
      line->consumed = pos - line->start;
      line->width = width;
      return;
    }
    if (c == '\t') text[pos] = ' ';
    int n = zvCharacterLength(text + pos, end - pos);
    int w = zvFontTextWidth(block->font, text + pos, n);
    // The first character always stays, however narrow the wrap: a line
    // must move layout on.
    if (pos > line->start && width + w > block->wrapWidth) break;
    width += w;
    pos += n;
    line->drawn = pos - line->start;
  }
  line->consumed = pos - line->start;
  line->width = width;
}

int layoutParagraph(ZvTextBlock* block, ZvTextParagraph* p) {
  freeLines(p);
  int lineHeight = block->font ? block->font->lineHeight : 0;
  ZvTextLine* last = nullptr;
  do {
    auto* line = static_cast<ZvTextLine*>(zvMalloc(sizeof(ZvTextLine)));
    if (!line) return -1;
    line->paragraph = p;
    line->height = lineHeight;
    measureLine(block, p, line);
    line->drawn = std::min(line->drawn, line->consumed);
    line->previous = last;
    if (last)
      last->next = line;
    else
      p->lines = line;
    last = line;
    p->position += line->consumed;
    p->lineCount++;
    p->height += lineHeight;
    p->widest = std::max(p->widest, line->width);
  } while (p->position < p->length);
  return 0;
}

void freeParagraph(ZvTextParagraph* p) {
  freeLines(p);
  zvFree(p->text);
  zvFree(p);
}

void recountBlock(ZvTextBlock* block) {
  block->widest = 0;
  block->height = 0;
  block->lineCount = 0;
  int number = block->firstLine;
  for (ZvTextParagraph* p = block->first; p; p = p->next) {
    p->firstLine = number;
    number += p->lineCount;
    block->lineCount += p->lineCount;
    block->height += p->height;
    block->widest = std::max(block->widest, p->widest);
  }
}

void dropOldest(ZvTextBlock* block) {
  ZvTextParagraph* p = block->first;
  if (!p) return;
  block->first = p->next;
  if (block->first)
    block->first->previous = nullptr;
  else
    block->last = nullptr;
  block->lineCount -= p->lineCount;
  block->height -= p->height;
  block->paragraphCount--;
  block->firstLine = block->first ? block->first->firstLine : p->firstLine + p->lineCount;
  freeParagraph(p);
  if (block->firstLine > ZV_TEXT_RENUMBER_AT) {
    block->firstLine = 0;
    recountBlock(block);
  } else {
    // The widest line may have left with the paragraph.
    block->widest = 0;
    for (ZvTextParagraph* q = block->first; q; q = q->next) block->widest = std::max(block->widest, q->widest);
  }
}

}  // namespace

ZvTextBlock* zvNewTextBlock(ZvTextFont* font) {
  auto* block = static_cast<ZvTextBlock*>(zvMalloc(sizeof(ZvTextBlock)));
  if (!block) return nullptr;
  block->font = font;
  block->wrapWidth = ZV_LABEL_WIDTH;
  block->capacity = 100;
  return block;
}

void zvDeleteTextBlock(ZvTextBlock* block) {
  if (!block) return;
  zvTextClear(block);
  zvFree(block);
}

void zvTextSetWindow(ZvTextBlock* block, void* window) {
  if (block) block->window = window;
}

void zvTextSetEscapes(ZvTextBlock* block, int on) {
  if (block) block->escapes = on ? 1 : 0;
}

int zvTextSetWidth(ZvTextBlock* block, int width, int capacity) {
  if (!block) return -1;
  block->wrapWidth = std::max(width, 0);
  block->capacity = std::max(capacity, 1);
  while (block->paragraphCount > block->capacity) dropOldest(block);
  int result = 0;
  for (ZvTextParagraph* p = block->first; p; p = p->next)
    if (layoutParagraph(block, p) != 0) result = -1;
  recountBlock(block);
  return result;
}

// A paragraph holding its own copy of the text, laid out for the block;
// null when memory runs out.
static ZvTextParagraph* newParagraph(ZvTextBlock* block, const char* text) {
  auto* p = static_cast<ZvTextParagraph*>(zvMalloc(sizeof(ZvTextParagraph)));
  char* copy = zvStrdup(text);
  if (!p || !copy) {
    zvFree(p);
    zvFree(copy);
    return nullptr;
  }
  p->text = copy;
  p->length = int32_t(std::min<size_t>(std::strlen(copy), INT32_MAX / 2));
  if (layoutParagraph(block, p) != 0) {
    freeParagraph(p);
    return nullptr;
  }
  return p;
}

int zvTextAddParagraph(ZvTextBlock* block, const char* text) {
  if (!block || !text) return -1;
  ZvTextParagraph* p = newParagraph(block, text);
  if (!p) return -1;
  if (block->paragraphCount >= block->capacity) dropOldest(block);
  block->paragraphCount++;
  p->firstLine = block->last ? block->last->firstLine + block->last->lineCount : block->firstLine;
  p->previous = block->last;
  if (block->last)
    block->last->next = p;
  else
    block->first = p;
  block->last = p;
  block->lineCount += p->lineCount;
  block->height += p->height;
  block->widest = std::max(block->widest, p->widest);
  return 0;
}

int zvTextReplaceLast(ZvTextBlock* block, const char* text) {
  if (!block || !block->last || !text) return -1;
  ZvTextParagraph* p = newParagraph(block, text);
  if (!p) return -1;
  ZvTextParagraph* old = block->last;
  p->firstLine = old->firstLine;
  p->previous = old->previous;
  if (p->previous)
    p->previous->next = p;
  else
    block->first = p;
  block->last = p;
  block->lineCount += p->lineCount - old->lineCount;
  block->height += p->height - old->height;
  freeParagraph(old);
  block->widest = 0;
  for (ZvTextParagraph* q = block->first; q; q = q->next) block->widest = std::max(block->widest, q->widest);
  return 0;
}

void zvTextClear(ZvTextBlock* block) {
  if (!block) return;
  while (block->first) {
    ZvTextParagraph* next = block->first->next;
    freeParagraph(block->first);
    block->first = next;
  }
  block->last = nullptr;
  block->paragraphCount = 0;
  block->lineCount = 0;
  block->height = 0;
  block->widest = 0;
  block->firstLine = 0;
}

int zvTextFindLine(ZvTextBlock* block, int number, ZvTextParagraph** paragraph, ZvTextLine** line) {
  if (!block) return -1;
  for (ZvTextParagraph* p = block->first; p; p = p->next) {
    if (number < p->firstLine || number >= p->firstLine + p->lineCount) continue;
    ZvTextLine* l = p->lines;
    for (int i = p->firstLine; l && i < number; ++i) l = l->next;
    if (!l) return -1;
    if (paragraph) *paragraph = p;
    if (line) *line = l;
    return 0;
  }
  return -1;
}

int zvTextWidest(const ZvTextBlock* block) { return block ? block->widest : 0; }
int zvTextHeight(const ZvTextBlock* block) { return block ? block->height : 0; }
int zvTextLineCount(const ZvTextBlock* block) { return block ? block->lineCount : 0; }
int zvTextFirstLine(const ZvTextBlock* block) { return block ? block->firstLine : 0; }
int zvTextLastLine(const ZvTextBlock* block) {
  return block && block->lineCount > 0 ? block->firstLine + block->lineCount - 1 : 0;
}
