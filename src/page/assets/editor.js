// The statement editor: CodeMirror with SQLite's dialect of SQL. It takes
// the place of the page's plain text box, keeps its id and accessible name,
// and leaves running statements to the page.
import {EditorView, minimalSetup} from 'codemirror';
import {autocompletion, closeBrackets, closeBracketsKeymap, completionKeymap} from '@codemirror/autocomplete';
import {sql, SQLite} from '@codemirror/lang-sql';
import {bracketMatching, HighlightStyle, indentOnInput, syntaxHighlighting} from '@codemirror/language';
import {Compartment, EditorState, Prec} from '@codemirror/state';
import {keymap, lineNumbers, placeholder} from '@codemirror/view';
import {tags} from '@lezer/highlight';

// The page's palette, whose text colours keep 4.5:1 contrast in both themes
// on a card's background, which the box therefore keeps (no line is shaded).
const highlight = HighlightStyle.define([
  {tag: [tags.keyword, tags.operatorKeyword, tags.typeName], color: 'var(--accent)', fontWeight: '600'},
  {tag: [tags.string, tags.special(tags.string)], color: 'var(--ok)'},
  {tag: [tags.number, tags.bool, tags.null], color: 'var(--danger)'},
  {tag: [tags.lineComment, tags.blockComment], color: 'var(--muted)', fontStyle: 'italic'},
  {tag: tags.special(tags.name), color: 'var(--accent)'},
]);

const look = EditorView.theme({
  '&': {
    background: 'var(--surface)',
    color: 'var(--text)',
    border: '1px solid var(--control-line)',
    borderRadius: '9px',
    fontSize: '13px',
    minHeight: '104px',
    maxHeight: '40vh',
  },
  '&.cm-focused': {outline: '2px solid var(--accent)', outlineOffset: '1px'},
  '.cm-scroller': {fontFamily: 'var(--mono)', lineHeight: '1.5'},
  '.cm-content': {padding: '8px 0', caretColor: 'var(--text)'},
  '.cm-cursor': {borderLeftColor: 'var(--text)'},
  '.cm-gutters': {background: 'transparent', color: 'var(--muted)', border: 'none'},
  '&.cm-focused .cm-selectionBackground, .cm-selectionBackground, ::selection': {
    background: 'color-mix(in srgb, var(--accent) 35%, transparent)',
  },
  '.cm-tooltip': {background: 'var(--menu-bg)', color: 'var(--text)', border: '1px solid var(--line-2)'},
  '.cm-tooltip-autocomplete ul li[aria-selected]': {background: 'var(--accent)', color: 'var(--bg-card)'},
  '.cm-completionDetail': {color: 'inherit', opacity: '1'},
});

/// Replaces `textarea` with an editor holding its text. The editable
/// element takes the text area's id and accessible name. `onRun` is called
/// on Ctrl+Enter (Cmd+Enter). Returns the page's handle on the editor.
export function createEditor(textarea, onRun) {
  const id = textarea.id;
  const label = textarea.getAttribute('aria-label') || '';
  const schema = new Compartment();
  const language = (tables) => sql({dialect: SQLite, schema: tables, upperCaseKeywords: true});
  const run = () => {
    onRun();
    return true;
  };
  const view = new EditorView({
    state: EditorState.create({
      doc: textarea.value,
      extensions: [
        minimalSetup,
        lineNumbers(),
        indentOnInput(),
        bracketMatching(),
        closeBrackets(),
        autocompletion({icons: false}),
        syntaxHighlighting(highlight),
        EditorView.lineWrapping,
        placeholder('Type a statement'),
        EditorView.contentAttributes.of({'id': id, 'aria-label': label, 'spellcheck': 'false'}),
        Prec.highest(keymap.of([{key: 'Mod-Enter', run: run}])),
        keymap.of([...closeBracketsKeymap, ...completionKeymap]),
        schema.of(language({})),
        look,
      ],
    }),
  });
  textarea.removeAttribute('id');
  textarea.replaceWith(view.dom);
  return {
    /// The whole text.
    text: () => view.state.doc.toString(),
    /// The main selection as character offsets {from, to}; equal when
    /// nothing is selected (the cursor).
    selection: () => ({from: view.state.selection.main.from, to: view.state.selection.main.to}),
    /// Replaces the whole text and puts the cursor at its end.
    setText: (value) => view.dispatch({
      changes: {from: 0, to: view.state.doc.length, insert: value},
      selection: {anchor: value.length},
    }),
    /// The names completion offers: {table: [column, ...], ...}.
    setSchema: (tables) => view.dispatch({effects: schema.reconfigure(language(tables))}),
    focus: () => view.focus(),
  };
}
