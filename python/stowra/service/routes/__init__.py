"""One router per resource: plans (the JSON API), health, and the web page."""
