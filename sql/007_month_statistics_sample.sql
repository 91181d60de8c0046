-- The loaders' analyses sample 3,000 rows of a month, not 30,000: the lookup's plan needs only
-- how many rows the partition has and that a digest is nearly unique, which a small sample
-- tells as well, and the larger one took a tenth of a second of every load at each doubling.
-- Autovacuum's analyses later keep the server's own sample size.
ALTER FUNCTION analyse_call_months(date[]) SET default_statistics_target = 10;
