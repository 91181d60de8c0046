-- Calls by month of their start, as the exchange stamped it (start_month: the first day of
-- that month), each month a partition made when a loader first needs it; calls without a
-- readable start have a partition of their own. Old months go whole (drop_calls_before).
--
-- A unique constraint of a partitioned table must hold the partition key, so a line is one
-- row through (exchange, line_key, start_month). That is one row per (exchange, line_key):
-- the key covers the line's bytes, and start_month is read from those bytes alone (not from
-- the loader's time zone), so a line can only ever go to one partition. Calls without a
-- start have NULL there, which a unique constraint does not compare: their partition has
-- (exchange, line_key) unique by itself.
--
-- The rows of the table before are moved by move_unmoved_calls in batches, each in its own
-- transaction, so an interrupted upgrade goes on where it stopped; loaders wait for it.
ALTER TABLE calls RENAME TO calls_unmoved;
ALTER INDEX calls_pkey RENAME TO calls_unmoved_pkey;
ALTER TABLE calls_unmoved RENAME CONSTRAINT calls_line_once TO calls_unmoved_line_once;
ALTER INDEX calls_started_at RENAME TO calls_unmoved_started_at;
ALTER INDEX calls_by_record RENAME TO calls_unmoved_by_record;
DROP VIEW calls_per_hour;
DROP FUNCTION long_calls(integer);

CREATE SEQUENCE call_ids;
SELECT setval('call_ids', coalesce((SELECT max(id) FROM calls_unmoved), 0) + 1, false);

CREATE TABLE calls (
  id            bigint NOT NULL DEFAULT nextval('call_ids'),
  exchange      text NOT NULL,
  record        bytea NOT NULL,
  record_sha256 bytea GENERATED ALWAYS AS (sha256(record)) STORED,
  marked_bad    boolean NOT NULL,
  call_type     text NOT NULL,
  started_at    timestamptz,
  ended_at      timestamptz,
  talk_seconds  integer,
  items         jsonb NOT NULL,
  log_file      text NOT NULL,
  log_line      integer NOT NULL,
  loaded_at     timestamptz NOT NULL DEFAULT now(),
  line_key      bytea,
  journal       text,
  start_month   date,
  item_keys     text[],
  CONSTRAINT calls_line_once UNIQUE (exchange, line_key, start_month)
) PARTITION BY LIST (start_month);
ALTER SEQUENCE call_ids OWNED BY calls.id;
-- No index on id: nothing looks a call up by it, and each index costs every insert.
CREATE INDEX calls_by_record ON calls (exchange, record_sha256);
CREATE INDEX calls_started_at ON calls (started_at);
CREATE INDEX calls_exchange_started ON calls (exchange, started_at);
-- A call's items as type:data, but the times, each call's own, which no one looks up and
-- which would double the index's work at every insert. The loaders write item_keys from the
-- record; this is the same from the stored items, for rows moved from the table before.
CREATE FUNCTION call_items(items jsonb) RETURNS text[]
  LANGUAGE sql IMMUTABLE PARALLEL SAFE
  AS $$ SELECT coalesce(array_agg((e ->> 'type') || ':' || (e ->> 'data')), '{}')
          FROM jsonb_array_elements(items) AS e WHERE e ->> 'type' <> '6' $$;
CREATE INDEX calls_items ON calls USING gin (item_keys);
CREATE TABLE calls_no_start PARTITION OF calls FOR VALUES IN (NULL);
ALTER TABLE calls_no_start ADD CONSTRAINT calls_no_start_line_once UNIQUE (exchange, line_key);
ALTER TABLE calls ENABLE ROW LEVEL SECURITY;
CREATE POLICY own_exchange ON calls
  USING (exchange_allowed(current_user, exchange))
  WITH CHECK (exchange_allowed(current_user, exchange));

-- The months that have a partition.
CREATE TABLE call_months (
  start_month date PRIMARY KEY,
  made_at     timestamptz NOT NULL DEFAULT now()
);

-- Makes the partitions of the given months that are missing. Run by any loader (a collector
-- too) in its own transaction; a table made alone and attached takes no lock that holds up
-- the loaders and readers of the other months.
CREATE FUNCTION make_call_months(months date[]) RETURNS void
  LANGUAGE plpgsql SECURITY DEFINER SET search_path FROM CURRENT
  AS $$
DECLARE
  m date;
  part text;
BEGIN
  FOR m IN SELECT DISTINCT date_trunc('month', x)::date FROM unnest(months) AS x
            WHERE x IS NOT NULL LOOP
    CONTINUE WHEN EXISTS (SELECT 1 FROM call_months WHERE start_month = m);
    PERFORM pg_advisory_xact_lock(hashtext('vorlan month ' || m));
    CONTINUE WHEN EXISTS (SELECT 1 FROM call_months WHERE start_month = m);
    part := 'calls_' || to_char(m, 'YYYY_MM');
    EXECUTE format('CREATE TABLE %I (LIKE calls INCLUDING DEFAULTS INCLUDING GENERATED)', part);
    EXECUTE format('ALTER TABLE calls ATTACH PARTITION %I FOR VALUES IN (%L)', part, m);
    INSERT INTO call_months (start_month) VALUES (m);
  END LOOP;
END $$;

-- Per exchange, hour and month of start: the calls with a start, those flagged bad, their
-- talk time in all and the longest. Written in the transaction that stores the calls.
CREATE TABLE calls_hourly (
  exchange             text NOT NULL,
  hour                 timestamptz NOT NULL,
  start_month          date NOT NULL,
  calls                bigint NOT NULL,
  flagged              bigint NOT NULL,
  total_talk_seconds   bigint NOT NULL,
  longest_talk_seconds integer NOT NULL,
  PRIMARY KEY (exchange, hour, start_month)
);
CREATE INDEX calls_hourly_by_hour ON calls_hourly (hour);
ALTER TABLE calls_hourly ENABLE ROW LEVEL SECURITY;
CREATE POLICY own_exchange ON calls_hourly
  USING (exchange_allowed(current_user, exchange))
  WITH CHECK (exchange_allowed(current_user, exchange));

-- The month of the last time item's start, as the store reads it (yyyyMM first).
CREATE FUNCTION stamped_month(items jsonb) RETURNS date
  LANGUAGE sql IMMUTABLE
  AS $$ SELECT to_date(left(e ->> 'data', 6), 'YYYYMM')
          FROM jsonb_array_elements(items) WITH ORDINALITY AS a(e, n)
         WHERE e ->> 'type' = '6' ORDER BY n DESC LIMIT 1 $$;

-- Moves up to `batch` rows of the table before into their months, with their hourly
-- figures; how many it moved (0: none left).
CREATE FUNCTION move_unmoved_calls(batch integer) RETURNS bigint
  LANGUAGE plpgsql
  AS $$
DECLARE
  moved bigint;
BEGIN
  PERFORM make_call_months(array(
    SELECT stamped_month(items) FROM (SELECT items, started_at FROM calls_unmoved
                                       ORDER BY id LIMIT batch) AS s
     WHERE started_at IS NOT NULL));
  WITH gone AS (
    DELETE FROM calls_unmoved
     WHERE id IN (SELECT id FROM calls_unmoved ORDER BY id LIMIT batch)
    RETURNING *),
  rows AS (
    INSERT INTO calls (id, exchange, record, marked_bad, call_type, started_at, ended_at,
                       talk_seconds, items, log_file, log_line, loaded_at, line_key, journal,
                       start_month, item_keys)
    SELECT id, exchange, record, marked_bad, call_type, started_at, ended_at, talk_seconds,
           items, log_file, log_line, loaded_at, line_key, journal,
           CASE WHEN started_at IS NOT NULL THEN stamped_month(items) END, call_items(items)
      FROM gone
    RETURNING exchange, started_at, start_month, marked_bad, talk_seconds),
  figures AS (
    INSERT INTO calls_hourly AS h
    SELECT exchange, date_trunc('hour', started_at), start_month, count(*),
           count(*) FILTER (WHERE marked_bad), coalesce(sum(talk_seconds), 0),
           coalesce(max(talk_seconds), 0)
      FROM rows WHERE started_at IS NOT NULL GROUP BY 1, 2, 3
    ON CONFLICT (exchange, hour, start_month) DO UPDATE
       SET calls = h.calls + excluded.calls, flagged = h.flagged + excluded.flagged,
           total_talk_seconds = h.total_talk_seconds + excluded.total_talk_seconds,
           longest_talk_seconds = greatest(h.longest_talk_seconds,
                                           excluded.longest_talk_seconds))
  SELECT count(*) INTO moved FROM rows;
  RETURN moved;
END $$;

-- Whoever could use the table before may use the new one the same way.
DO $$
DECLARE
  r name;
BEGIN
  FOR r IN SELECT rolname FROM pg_roles
            WHERE has_table_privilege(oid, 'calls_unmoved', 'SELECT')
              AND NOT rolsuper AND oid <> (SELECT relowner FROM pg_class
                                           WHERE oid = 'calls_unmoved'::regclass) LOOP
    EXECUTE format('GRANT SELECT ON calls, calls_hourly TO %I', r);
    IF has_table_privilege(r, 'calls_unmoved', 'INSERT') THEN
      EXECUTE format('GRANT INSERT, UPDATE (line_key, journal) ON calls TO %I;'
                     ' GRANT INSERT, UPDATE ON calls_hourly TO %I;'
                     ' GRANT USAGE ON SEQUENCE call_ids TO %I', r, r, r);
    END IF;
  END LOOP;
END $$;

-- Drops the months before `before` (a month's first day) whole, with their hourly figures:
-- each month dropped and its calls. The owner's right (the partitions are detached); the
-- current month and the one before are refused.
CREATE FUNCTION drop_calls_before(before date) RETURNS TABLE (month date, calls bigint)
  LANGUAGE plpgsql
  AS $$
DECLARE
  part text;
BEGIN
  IF before > (date_trunc('month', now()) - interval '2 months')::date THEN
    RAISE EXCEPTION 'the current month and the one before are kept: drop before % at the latest',
      to_char(date_trunc('month', now()) - interval '2 months', 'YYYY-MM');
  END IF;
  FOR month IN SELECT start_month FROM call_months WHERE start_month < before
                ORDER BY start_month LOOP
    part := 'calls_' || to_char(month, 'YYYY_MM');
    EXECUTE format('SELECT count(*) FROM %I', part) INTO calls;
    EXECUTE format('ALTER TABLE calls DETACH PARTITION %I', part);
    EXECUTE format('DROP TABLE %I', part);
    DELETE FROM calls_hourly h WHERE h.start_month = month;
    DELETE FROM call_months m WHERE m.start_month = month;
    RETURN NEXT;
  END LOOP;
END $$;

-- Hours as the reader's session zone sees them; calls without a readable start have no hour.
CREATE VIEW calls_per_hour WITH (security_invoker = true) AS
  SELECT exchange, hour, sum(calls)::bigint AS calls,
         sum(total_talk_seconds)::bigint AS total_talk_seconds,
         sum(flagged)::bigint AS flagged, max(longest_talk_seconds) AS longest_talk_seconds
    FROM calls_hourly
   GROUP BY exchange, hour;

-- The figures of each hour of [from_at, to_at), of one exchange or (NULL) of all.
CREATE FUNCTION hourly_calls(from_at timestamptz, to_at timestamptz, of_exchange text DEFAULT NULL)
  RETURNS TABLE (exchange text, hour timestamptz, calls bigint, flagged bigint,
                 total_talk_seconds bigint, longest_talk_seconds integer)
  LANGUAGE sql STABLE
  AS $$ SELECT h.exchange, h.hour, sum(h.calls)::bigint, sum(h.flagged)::bigint,
               sum(h.total_talk_seconds)::bigint, max(h.longest_talk_seconds)
          FROM calls_hourly h
         WHERE h.hour >= from_at AND h.hour < to_at
           AND (of_exchange IS NULL OR h.exchange = of_exchange)
         GROUP BY h.exchange, h.hour ORDER BY h.exchange, h.hour $$;

-- The same by day, days as the reader's session zone sees them.
CREATE FUNCTION daily_calls(from_at timestamptz, to_at timestamptz, of_exchange text DEFAULT NULL)
  RETURNS TABLE (exchange text, day timestamptz, calls bigint, flagged bigint,
                 total_talk_seconds bigint, longest_talk_seconds integer)
  LANGUAGE sql STABLE
  AS $$ SELECT h.exchange, date_trunc('day', h.hour), sum(h.calls)::bigint,
               sum(h.flagged)::bigint, sum(h.total_talk_seconds)::bigint,
               max(h.longest_talk_seconds)
          FROM calls_hourly h
         WHERE h.hour >= from_at AND h.hour < to_at
           AND (of_exchange IS NULL OR h.exchange = of_exchange)
         GROUP BY 1, 2 ORDER BY 1, 2 $$;

-- Calls that talked longer than the given maximum, in seconds.
CREATE FUNCTION long_calls(max_seconds integer) RETURNS SETOF calls
  LANGUAGE sql STABLE
  AS $$ SELECT * FROM calls WHERE talk_seconds > max_seconds ORDER BY started_at $$;

-- The same, started in [from_at, to_at), of one exchange or (NULL) of all. The months a
-- stamp in any zone can fall in are read only.
CREATE FUNCTION long_calls(max_seconds integer, from_at timestamptz, to_at timestamptz,
                           of_exchange text DEFAULT NULL) RETURNS SETOF calls
  LANGUAGE sql STABLE
  AS $$ SELECT * FROM calls c
         WHERE c.talk_seconds > max_seconds AND c.started_at >= from_at
           AND c.started_at < to_at AND (of_exchange IS NULL OR c.exchange = of_exchange)
           AND c.start_month >= date_trunc('month', from_at - interval '1 day')::date
           AND c.start_month <= date_trunc('month', to_at + interval '1 day')::date
         ORDER BY c.started_at $$;

-- The calls with an item of the given data type and data (an extension, a trunk; not the
-- times, type 6), started in [from_at, to_at), of one exchange or (NULL) of all.
CREATE FUNCTION calls_with_item(item_type integer, item_data text, from_at timestamptz,
                                to_at timestamptz, of_exchange text DEFAULT NULL)
  RETURNS SETOF calls
  LANGUAGE sql STABLE
  AS $$ SELECT * FROM calls c
         WHERE c.item_keys @> ARRAY[item_type || ':' || item_data]
           AND c.started_at >= from_at AND c.started_at < to_at
           AND (of_exchange IS NULL OR c.exchange = of_exchange)
           AND c.start_month >= date_trunc('month', from_at - interval '1 day')::date
           AND c.start_month <= date_trunc('month', to_at + interval '1 day')::date
         ORDER BY c.started_at $$;
