-- The calls of every exchange, each record once: the same bytes from the same exchange are the
-- same call, since every record carries its own start and end.
CREATE TABLE calls (
  id            bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  exchange      text NOT NULL,
  record        bytea NOT NULL,          -- STX to ETX as logged, without the <BAD>: marker
  record_sha256 bytea GENERATED ALWAYS AS (sha256(record)) STORED,
  marked_bad    boolean NOT NULL,
  call_type     text NOT NULL,
  started_at    timestamptz,             -- NULL where the time item is missing or unreadable
  ended_at      timestamptz,
  talk_seconds  integer,
  items         jsonb NOT NULL,          -- [{"type": 6, "data": "..."}]
  log_file      text NOT NULL,
  log_line      integer NOT NULL,
  loaded_at     timestamptz NOT NULL DEFAULT now(),
  CONSTRAINT calls_once UNIQUE (exchange, record_sha256)
);
CREATE INDEX calls_started_at ON calls (started_at);

-- How far the forwarder of each exchange has loaded each log file, written in the same
-- transaction as the rows it loaded.
CREATE TABLE store_positions (
  exchange    text NOT NULL,
  log_file    text NOT NULL,
  byte_offset bigint NOT NULL,
  next_line   integer NOT NULL,
  updated_at  timestamptz NOT NULL DEFAULT now(),
  PRIMARY KEY (exchange, log_file)
);

-- Hours as the reader's session zone sees them; calls without a readable start have no hour.
CREATE VIEW calls_per_hour AS
  SELECT exchange, date_trunc('hour', started_at) AS hour, count(*) AS calls,
         coalesce(sum(talk_seconds), 0) AS total_talk_seconds
    FROM calls
   WHERE started_at IS NOT NULL
   GROUP BY exchange, date_trunc('hour', started_at);

-- Calls that talked longer than the given maximum, in seconds.
CREATE FUNCTION long_calls(max_seconds integer) RETURNS SETOF calls
  LANGUAGE sql STABLE
  AS $$ SELECT * FROM calls WHERE talk_seconds > max_seconds ORDER BY started_at $$;
