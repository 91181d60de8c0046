-- A row is a line of a log file: the same line read again (a reload, two loaders, a restart)
-- is one row, and two lines are two rows even with the same bytes. line_key is the line's key
-- (a digest of its file's name and every byte of the file up to the line's end); journal is
-- the log folder it was read from. Rows stored before keep their place and get their key
-- when their line is read again (NULL until then: they stood for the first line with their
-- bytes).
ALTER TABLE calls ADD COLUMN line_key bytea, ADD COLUMN journal text;
ALTER TABLE calls DROP CONSTRAINT calls_once;
ALTER TABLE calls ADD CONSTRAINT calls_line_once UNIQUE (exchange, line_key);
CREATE INDEX calls_by_record ON calls (exchange, record_sha256);

-- A position names the file it belongs to: its key there, what the file system calls the
-- file (device and inode) and its first bytes, so that a file made again under the same name
-- is read from its start.
ALTER TABLE store_positions ADD COLUMN line_key bytea, ADD COLUMN file_id text,
  ADD COLUMN head bytea;
