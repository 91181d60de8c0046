-- Each collector writes only its own exchange: a role given exchanges here (vorlan-load
-- --grant-collector) reads and writes the rows and positions of those exchanges only; a role
-- given none is held by its grants alone, as before. The owner is not held (it loads history).
CREATE TABLE collector_exchanges (
  role_name name NOT NULL,
  exchange  text NOT NULL,
  PRIMARY KEY (role_name, exchange)
);

CREATE FUNCTION exchange_allowed(who name, name text) RETURNS boolean
  LANGUAGE sql STABLE SECURITY DEFINER SET search_path FROM CURRENT
  AS $$ SELECT NOT EXISTS (SELECT 1 FROM collector_exchanges WHERE role_name = who)
               OR EXISTS (SELECT 1 FROM collector_exchanges
                           WHERE role_name = who AND exchange = name) $$;

ALTER TABLE calls ENABLE ROW LEVEL SECURITY;
CREATE POLICY own_exchange ON calls
  USING (exchange_allowed(current_user, exchange))
  WITH CHECK (exchange_allowed(current_user, exchange));
ALTER TABLE store_positions ENABLE ROW LEVEL SECURITY;
CREATE POLICY own_exchange ON store_positions
  USING (exchange_allowed(current_user, exchange))
  WITH CHECK (exchange_allowed(current_user, exchange));
