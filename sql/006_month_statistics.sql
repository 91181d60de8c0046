-- A month's partition made during a load has no statistics until autovacuum gets to it, and
-- without them the planner reads all of an exchange's rows in the month to look up a batch's
-- digests, more with every batch. Loaders call this before their lookups, in their own
-- transaction (an analysis elsewhere would not count its rows): it analyses the months'
-- partitions never analysed or grown to more than twice their pages at the last analysis, so
-- a month is analysed a few times while it fills, each time cheaply. Runs as the owner (a
-- collector's role may not analyse); one analysis of a month at a time, the others skip it.
CREATE FUNCTION analyse_call_months(months date[]) RETURNS void
  LANGUAGE plpgsql SECURITY DEFINER SET search_path FROM CURRENT
  AS $$
DECLARE
  m date;
  part regclass;
BEGIN
  FOR m IN SELECT DISTINCT x FROM unnest(months) AS x WHERE x IS NOT NULL LOOP
    part := to_regclass('calls_' || to_char(m, 'YYYY_MM'));
    CONTINUE WHEN part IS NULL;
    CONTINUE WHEN (SELECT c.reltuples >= 0 AND pg_relation_size(part)
                          <= 2 * c.relpages::bigint * current_setting('block_size')::bigint
                     FROM pg_class c WHERE c.oid = part);
    CONTINUE WHEN NOT pg_try_advisory_xact_lock(hashtext('vorlan analyse ' || m));
    -- Only what the lookup's plan needs: all columns take about three times as long.
    EXECUTE format('ANALYZE %s (exchange, record_sha256, start_month)', part);
  END LOOP;
END $$;
