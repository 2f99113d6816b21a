-- The second, small demo database, in a subfolder of the demo root: with
-- two databases the Explorer asks which one to open.
BEGIN;
CREATE TABLE notes (
  id INTEGER PRIMARY KEY,
  title TEXT NOT NULL,
  body TEXT,
  pinned INTEGER NOT NULL DEFAULT 0
);
INSERT INTO notes (id, title, body, pinned) VALUES
  (1, 'Welcome', 'This database lives in a subfolder of the demo root.', 1),
  (2, 'Read-only', 'Try an UPDATE: the Explorer refuses every statement that writes.', 0),
  (3, 'Time budget', 'A statement that runs longer than 2000 ms is stopped.', 0),
  (4, 'Empty body', NULL, 0);
CREATE TABLE tags (
  note_id INTEGER NOT NULL REFERENCES notes (id),
  tag TEXT NOT NULL
);
INSERT INTO tags (note_id, tag) VALUES (1, 'start'), (2, 'safety'), (3, 'safety'), (3, 'limits');
COMMIT;
