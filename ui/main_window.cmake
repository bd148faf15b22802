target_sources(morvel_ui PRIVATE
)
