-- The item keys leave out the dialled number (type 2) as they leave out the times (type 6):
-- each call's own, which no one looks calls up by, and a new key of the item index at every
-- insert, which made most of that index's cost to the load. Keys of type 2 already stored
-- stay; nothing reads them.
CREATE OR REPLACE FUNCTION call_items(items jsonb) RETURNS text[]
  LANGUAGE sql IMMUTABLE PARALLEL SAFE
  AS $$ SELECT coalesce(array_agg((e ->> 'type') || ':' || (e ->> 'data')), '{}')
          FROM jsonb_array_elements(items) AS e WHERE e ->> 'type' NOT IN ('2', '6') $$;

-- The calls with an item of the given data type and data, started in [from_at, to_at), of
-- one exchange or (NULL) of all. The item index serves every type but 2 and 6, which are
-- read from the items of the period's calls (the start indexes find those): slower, but
-- every call that has it (the item built once, not per call).
CREATE OR REPLACE FUNCTION calls_with_item(item_type integer, item_data text,
                                           from_at timestamptz, to_at timestamptz,
                                           of_exchange text DEFAULT NULL)
  RETURNS SETOF calls
  LANGUAGE sql STABLE
  AS $$ SELECT * FROM calls c
         WHERE CASE WHEN item_type IN (2, 6)
                    THEN c.items @> (SELECT jsonb_build_array(jsonb_build_object(
                                           'type', item_type, 'data', item_data)))
                    ELSE c.item_keys @> ARRAY[item_type || ':' || item_data] END
           AND c.started_at >= from_at AND c.started_at < to_at
           AND (of_exchange IS NULL OR c.exchange = of_exchange)
           AND c.start_month >= date_trunc('month', from_at - interval '1 day')::date
           AND c.start_month <= date_trunc('month', to_at + interval '1 day')::date
         ORDER BY c.started_at $$;
