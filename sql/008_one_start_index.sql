-- One start index, not two: calls_exchange_started serves the periods of all exchanges too,
-- read exchange by exchange, and calls_started_at cost every insert a twentieth of the load.
-- The exchanges with calls started in a period are those with hourly figures there, which are
-- written with the calls: a call started at t is counted in the hour that date_trunc gave in
-- its loader's zone, which begins after t - 1 hour and no later than t.
DROP INDEX calls_started_at;

-- The exchanges whose calls may have started in [from_at, to_at): the one given, or (NULL)
-- every exchange with hourly figures in the period.
CREATE FUNCTION period_exchanges(from_at timestamptz, to_at timestamptz, of_exchange text)
  RETURNS SETOF text
  LANGUAGE sql STABLE
  AS $$ SELECT of_exchange WHERE of_exchange IS NOT NULL
        UNION ALL
        SELECT DISTINCT h.exchange FROM calls_hourly h
         WHERE of_exchange IS NULL AND h.hour > from_at - interval '1 hour' AND h.hour < to_at $$;

CREATE OR REPLACE FUNCTION long_calls(max_seconds integer, from_at timestamptz, to_at timestamptz,
                                      of_exchange text DEFAULT NULL) RETURNS SETOF calls
  LANGUAGE sql STABLE
  AS $$ SELECT c.* FROM period_exchanges(from_at, to_at, of_exchange) AS e(exchange)
         CROSS JOIN LATERAL (
           SELECT * FROM calls c
            WHERE c.exchange = e.exchange AND c.talk_seconds > max_seconds
              AND c.started_at >= from_at AND c.started_at < to_at
              AND c.start_month >= date_trunc('month', from_at - interval '1 day')::date
              AND c.start_month <= date_trunc('month', to_at + interval '1 day')::date) AS c
         ORDER BY c.started_at $$;

-- The item index serves the keyed types, of one exchange or all; the dialled number and the
-- times (2 and 6) are read from the items of the period's calls, exchange by exchange.
CREATE OR REPLACE FUNCTION calls_with_item(item_type integer, item_data text,
                                           from_at timestamptz, to_at timestamptz,
                                           of_exchange text DEFAULT NULL)
  RETURNS SETOF calls
  LANGUAGE sql STABLE
  AS $$ SELECT * FROM calls c
         WHERE item_type NOT IN (2, 6) AND c.item_keys @> ARRAY[item_type || ':' || item_data]
           AND (of_exchange IS NULL OR c.exchange = of_exchange)
           AND c.started_at >= from_at AND c.started_at < to_at
           AND c.start_month >= date_trunc('month', from_at - interval '1 day')::date
           AND c.start_month <= date_trunc('month', to_at + interval '1 day')::date
        UNION ALL
        SELECT c.* FROM period_exchanges(from_at, to_at, of_exchange) AS e(exchange)
         CROSS JOIN LATERAL (
           SELECT * FROM calls c
            WHERE item_type IN (2, 6) AND c.exchange = e.exchange
              AND c.items @> (SELECT jsonb_build_array(jsonb_build_object(
                                     'type', item_type, 'data', item_data)))
              AND c.started_at >= from_at AND c.started_at < to_at
              AND c.start_month >= date_trunc('month', from_at - interval '1 day')::date
              AND c.start_month <= date_trunc('month', to_at + interval '1 day')::date) AS c
         ORDER BY started_at $$;
